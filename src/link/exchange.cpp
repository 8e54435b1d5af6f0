// The request-and-reply discipline and the small services the link shares.
#include <climits>
#include <cstdlib>
#include <string>

#include "common/cp932.h"
#include "link/console_link.h"
#include "link/link_text.h"

namespace kv {

namespace {

constexpr int kAttempts = 3;

// An attempt ends once the whole-second count has moved more than 10 past its start, so it
// lasts 10 to 11 seconds; counted on the monotonic clock, a clock change cannot stretch it.
int64_t AttemptDeadline(int64_t startMs) {
    const int64_t startSecond = startMs >= 0 ? startMs / 1000 : -((-startMs + 999) / 1000);
    return (startSecond + 11) * 1000;
}

}  // namespace

bool ConsoleLink::WaitReply(const std::u16string& awaited) {
    int retries = 0;
    bool ok = false;
    do {
        const int64_t deadline = AttemptDeadline(ports_.clock.MonotonicMs());
        if (awaited.empty()) {
            ok = ports_.pump.WaitUntil([this] { return link_.PendingReceives <= 0; }, deadline);
        } else {
            // Replies arrive only while events are processed, so the text is looked at after
            // each batch of them, exactly and case-sensitively. The fillers between reads are
            // skipped: an awaited text split over two reads has still arrived.
            ok = ports_.pump.WaitUntil(
                [this, &awaited] {
                    return link::FindText(1, link::WithoutFillers(link_.ReplyText), awaited,
                                          false) > 0;
                },
                deadline);
        }
        if (!ok) {
            ++retries;
            trace_.Error("retry(a):" + std::to_string(retries) + "\r\n" +
                         link::Visible(link_.ReplyText));
            Receive();
            trace_.Error("retry(b):" + std::to_string(retries) + "\r\n" +
                         link::Visible(link_.ReplyText));
            if (retries >= kAttempts) ShowMessage("wait err:retry" + std::to_string(retries));
        }
    } while (!ok && retries < kAttempts);
    return ok;
}

int16_t ExtractField(int16_t start, const std::u16string& text, const std::u16string& anchor,
                     const std::u16string& open, const std::u16string& close, std::u16string& out) {
    out.clear();
    const int p1 = link::FindText(start, text, anchor, true);
    if (p1 == 0) return 0;
    const int p2 = link::FindText(p1, text, open, true);
    if (p2 == 0) return 0;
    const int s = p2 + static_cast<int>(open.size()) - 1;
    // Positions are 16-bit; a text too long for them has no usable field.
    if (s > INT16_MAX) return 0;
    const int p3 = link::FindText(s, text, close, true);
    if (p3 == 0) return 0;
    // A close marker that overlaps the open one leaves nothing between them.
    if (p3 - s - 1 > 0) out = text.substr(static_cast<size_t>(s), static_cast<size_t>(p3 - s - 1));
    return static_cast<int16_t>(s);
}

void ConsoleLink::WaitTenths(int16_t n) {
    const int64_t deadline = ports_.clock.MonotonicMs() + int64_t{n} * 100;
    ports_.pump.WaitUntil([] { return false; }, deadline);
}

void ConsoleLink::ShowMessage(const std::string& text) {
    lastInformation_ = text;
    if (!messageWindowOpen_) ports_.view.ShowMessageWindow();
    ports_.view.SetMessageText(text);
    WaitTenths(30);
    if (!messageWindowOpen_) ports_.view.CloseMessageWindow();
}

void ConsoleLink::EndProgram(EndMode mode, const std::string& message) {
    link_.LinkReady = false;
    trace_.Close(message);
    if (mode == EndMode::WithMessage)
        ports_.view.MessageBox(message, "", MsgIcon::None, MsgButtons::Ok);
    Client_close();
    if (beforeExit_) beforeExit_();
    ports_.exit.Exit(0);
    std::abort();  // Exit does not come back
}

void ConsoleLink::StartExchange(const std::string& command) {
    link_.SendText = Utf8ToUtf16(command);
    link_.ReplyText.clear();
    link_.PendingReceives = 1;
    Sendbyte();
}

bool ConsoleLink::Command(const std::string& line) {
    StartExchange(line);
    return WaitReply(link_.RouterName);
}

}  // namespace kv
