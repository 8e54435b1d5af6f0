// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Text helpers shared by the link's procedures.
#include <string>
#include <string_view>

namespace kv::link {

// The terminator the program sends and the router's lines end with: LF CR.
inline constexpr std::u16string_view kLineBreak = u"\n\r";

// Position (from 1) of pattern in text searching from start; 0 when absent. An empty pattern
// is found at start. ignoreCase folds ASCII and full-width Latin letters.
int FindText(int start, std::u16string_view text, std::u16string_view pattern, bool ignoreCase);

// The reply without the zero fillers Receive puts behind each read. A reply that came in
// several reads has fillers in the middle; searching and cutting fields on this text finds
// what the router sent wherever the reads were split. (Fixed character positions, such as
// the router's clock in the login, still count on the reply with its fillers.)
std::u16string WithoutFillers(std::u16string_view text);

// Reply text for people and the trace: UTF-8, without the zero filler characters Receive puts
// behind every read (a message box or a text file would be cut or garbled by them).
std::string Visible(std::u16string_view text);

}  // namespace kv::link

#include <cstdint>
#include <optional>
namespace kv::link {
// The router's time in a "show time" reply, as seconds of the day: at character 24 (from 1)
// as the reply was built, or without its fillers, or the first time of day in it; nullopt
// when there is none.
std::optional<int32_t> ReadRouterClock(const std::u16string& reply);
}  // namespace kv::link
