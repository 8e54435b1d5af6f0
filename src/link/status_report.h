// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The router's status report read into channel records: plain functions of the text, so every
// report the router may print is tested without a router.
#include <cstdint>
#include <string>

namespace kv {

// The connection mode of a channel that carries a call.
inline constexpr const char* kTerminalMode = "端末型";

struct ChannelStatusRecord {
    std::string Mode;  // kTerminalMode marks a channel that carries a connection
    std::string PeerNumber;
    std::string ConnectTime;  // "yyyy/mm/dd hh:mm:ss" by the router's clock
    std::string IpAddress;
    std::string Usage;
    std::string AutoCutTime;
    std::string Elapsed;
    int16_t IdleSeconds = 0;
};

namespace report {

// report: the reply without its fillers. A channel without its block carries no connection.
ChannelStatusRecord ReadChannel(const std::u16string& report, int16_t channel);
// The report is one of an ISDN line (its label only matches in Shift-JIS).
bool IsIsdn(const std::u16string& report);
// Either channel's block can be found.
bool HasChannelBlocks(const std::u16string& report);

}  // namespace report
}  // namespace kv
