// SPDX-License-Identifier: GPL-3.0-or-later
#include "link/status_report.h"

#include "common/cp932.h"
#include "link/console_link.h"
#include "link/link_text.h"
#include "settings/settings.h"

namespace kv::report {

namespace {

std::string Field(int start, const std::u16string& text, const char16_t* label,
                  const std::u16string& close = u"]") {
    std::u16string out;
    ExtractField(start, text, label, u"[", close, out);
    return Utf16ToUtf8(out);
}

}  // namespace

ChannelStatusRecord ReadChannel(const std::u16string& report, int16_t channel) {
    ChannelStatusRecord rec;
    const std::u16string header = u"B" + Utf8ToUtf16(std::to_string(channel)) + u"チャネル";
    std::u16string ignored;
    // The header's line may end in LF CR, as the router's lines do, or in CR LF or CR alone.
    int anchor = ExtractField(1, report, header, u":", u"\n", ignored);
    if (anchor == 0) anchor = ExtractField(1, report, header, u":", u"\r", ignored);

    // Without its header the channel has no block of its own: it carries no connection.
    rec.Mode = anchor > 0 ? Field(anchor, report, u"接続モード") : std::string();
    if (rec.Mode != kTerminalMode) return rec;
    rec.ConnectTime = Field(anchor, report, u"接続時刻");
    rec.PeerNumber = Field(anchor, report, u"相手先電話番号");
    rec.IpAddress = Field(anchor, report, u"割り当てIPアドレス");
    rec.Usage = Field(anchor, report, u"回線使用率");
    rec.AutoCutTime = Field(anchor, report, u"自動切断時間");
    rec.Elapsed = Field(anchor, report, u"経過時間");
    // Numbers beyond 16 bits are clamped rather than wrapped.
    rec.IdleSeconds = ParseSettingInt(Field(anchor, report, u"自動切断時間", u"/")).value;
    return rec;
}

bool IsIsdn(const std::u16string& report) {
    return link::FindText(1, report, u"回線種別:ISDN", true) != 0;
}

bool HasChannelBlocks(const std::u16string& report) {
    return link::FindText(1, report, u"B1チャネル", true) != 0 ||
           link::FindText(1, report, u"B2チャネル", true) != 0;
}

}  // namespace kv::report
