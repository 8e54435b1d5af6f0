// The request-and-reply discipline and the small services the link shares.
#include <climits>
#include <cstdlib>
#include <string>

#include "app/trace.h"
#include "link/link.h"
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

bool WaitReply(Context& cx, const std::u16string& awaited) {
    int retries = 0;
    bool ok = false;
    do {
        const int64_t deadline = AttemptDeadline(cx.ports.clock->MonotonicMs());
        if (awaited.empty()) {
            ok = cx.ports.pump->WaitUntil([&cx] { return cx.link.PendingReceives <= 0; }, deadline);
        } else {
            // Replies arrive only while events are processed, so the text is looked at after
            // each batch of them, exactly and case-sensitively. The fillers between reads are
            // skipped: an awaited text split over two reads has still arrived.
            ok = cx.ports.pump->WaitUntil(
                [&cx, &awaited] {
                    return link::FindText(1, link::WithoutFillers(cx.link.ReplyText), awaited,
                                          false) > 0;
                },
                deadline);
        }
        if (!ok) {
            ++retries;
            WriteTrace(cx, 3, "retry(a):" + std::to_string(retries) + "\r\n" +
                                  link::Visible(cx.link.ReplyText));
            Receive(cx);
            WriteTrace(cx, 3, "retry(b):" + std::to_string(retries) + "\r\n" +
                                  link::Visible(cx.link.ReplyText));
            if (retries >= kAttempts) ShowMessage(cx, "wait err:retry" + std::to_string(retries));
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

// Whole days since start-up count 86400 each, so a program resident for days sees the value
// rise steadily instead of dropping back when the time of day passes the start time.
int32_t NowSeconds(Context& cx) {
    const LocalTime now = cx.ports.clock->Now();
    const int64_t days = DateToSerial(now.date) - DateToSerial(cx.BaseDate);
    const int64_t secs = days * 86400 + now.time.Seconds();
    if (secs > INT32_MAX) return INT32_MAX;
    if (secs < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(secs);
}

void WaitTenths(Context& cx, int16_t n) {
    const int64_t deadline = cx.ports.clock->MonotonicMs() + int64_t{n} * 100;
    cx.ports.pump->WaitUntil([] { return false; }, deadline);
}

void ShowMessage(Context& cx, const std::string& text) {
    cx.LastInformation = text;
    if (cx.MessageWindowOpen == 0) cx.ports.view->ShowMessageWindow();
    cx.ports.view->SetMessageText(text);
    WaitTenths(cx, 30);
    if (cx.MessageWindowOpen == 0) cx.ports.view->CloseMessageWindow();
}

void EndProgram(Context& cx, int16_t mode, const std::string& message) {
    cx.link.LinkReady = 0;
    WriteTrace(cx, 2, message);
    if (mode == 1) cx.ports.view->MessageBox(message, "", MsgIcon::None, MsgButtons::Ok);
    Client_close(cx);
    if (cx.hooks.SaveWindowPosition) cx.hooks.SaveWindowPosition();
    cx.ports.exit->Exit(0);
    std::abort();  // Exit does not come back
}

}  // namespace kv
