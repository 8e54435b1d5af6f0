// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/notices.h"

namespace kv {

void Notices::Notify(const char* text) {
    if (settings_.notify != 0 && port_) port_->Notify(text);
}

void Notices::CallStarted() {
    autoCutAsked_ = false;
    Notify(kNotifyCallStarted);
}

void Notices::CallEnded() {
    if (!autoCutAsked_) return;
    autoCutAsked_ = false;
    Notify(kNotifyAutoCut);
}

void Notices::LinkLost(bool inCall) {
    Notify(inCall ? kNotifyLinkLostInCall : kNotifyLinkLost);
}

void Notices::CutFailed() {
    Notify(kCutFailedText);
}

void Notices::LinkBack() {
    Notify(kNotifyLinkBack);
}

}  // namespace kv
