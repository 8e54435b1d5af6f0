// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/form_position.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kv {

namespace {

// "-5" keeps its sign where the others get their blank.
std::string Signed(int64_t v) {
    return v < 0 ? std::to_string(v) : " " + std::to_string(v);
}

}  // namespace

std::string clsSetFormPosition::FormatPosition(int64_t left, int64_t top, int64_t width,
                                               int64_t height) {
    return std::to_string(left) + Signed(top) + Signed(width) + Signed(height);
}

int16_t clsSetFormPosition::FieldValue(const std::string& field) {
    size_t i = 0;
    bool negative = false;
    if (i < field.size() && (field[i] == '-' || field[i] == '+')) negative = field[i++] == '-';
    double value = 0;
    bool digits = false;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
        digits = true;
        if (value < 1e9) value = value * 10 + (field[i] - '0');
    }
    if (i < field.size() && field[i] == '.') {
        double scale = 0.1;
        for (++i; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i, scale /= 10) {
            digits = true;
            value += (field[i] - '0') * scale;
        }
    }
    if (!digits) return 0;
    if (negative) value = -value;
    // Nearest integer, halves to even, as the 16-bit conversion of the stored number rounds.
    value = std::nearbyint(value);
    if (value > 32767) return 32767;
    if (value < -32768) return -32768;
    return static_cast<int16_t>(value);
}

bool clsSetFormPosition::CheckProperties() {
    // The last missing one in this order is named.
    const char* missing = nullptr;
    if (!form_) missing = "Form";
    if (mainKey_.empty()) missing = "MainKey";
    if (subKey_.empty()) missing = "SubKey";
    if (valueKey_.empty()) missing = "ValueKey";
    if (!missing) return true;
    if (view_)
        view_->MessageBox(std::string(missing) + "プロパティが設定されていません",
                          "clsLetFormPosition", MsgIcon::Exclamation, MsgButtons::Ok);
    return false;
}

void clsSetFormPosition::GetFormPosition() {
    if (!CheckProperties()) return;
    const int64_t w = width_ != 0 ? width_ : form_->CurrentWidth();
    const int64_t h = height_ != 0 ? height_ : form_->CurrentHeight();
    const std::string text =
        store_.Read(mainKey_, subKey_, valueKey_).value_or(FormatPosition(left_, top_, w, h));

    std::array<std::string, 4> fields;
    size_t pos = 0;
    for (auto& field : fields) {
        if (pos > text.size()) break;
        const size_t blank = text.find(' ', pos);
        if (blank == std::string::npos) {
            field = text.substr(pos);
            pos = text.size() + 1;
        } else {
            field = text.substr(pos, blank - pos);
            pos = blank + 1;
        }
    }
    const TwipsRect wanted{FieldValue(fields[0]), FieldValue(fields[1]), FieldValue(fields[2]),
                           FieldValue(fields[3])};
    const TwipsRect r =
        OnScreen(wanted, static_cast<int32_t>(w), static_cast<int32_t>(h), form_->WorkAreas(),
                 form_->TwipsPerPixelX(), form_->TwipsPerPixelY());
    form_->Move(r.left, r.top, r.width, r.height);
}

clsSetFormPosition::TwipsRect clsSetFormPosition::OnScreen(
    TwipsRect r, int32_t defaultWidth, int32_t defaultHeight,
    const std::vector<WindowPlacementPort::PixelRect>& workAreas, int32_t tx, int32_t ty) {
    if (r.width < defaultWidth / 2 || r.height < defaultHeight / 2) {
        r.width = defaultWidth;
        r.height = defaultHeight;
    }
    if (workAreas.empty()) return r;

    // In twips, 64 bits: a 16-bit stored value times the factor still fits.
    struct Area {
        int64_t left, top, right, bottom;
    };
    auto twips = [&](const WindowPlacementPort::PixelRect& p) {
        return Area{int64_t{p.left} * tx, int64_t{p.top} * ty, int64_t{p.right} * tx,
                    int64_t{p.bottom} * ty};
    };
    auto overlap = [&](const Area& a) {
        const int64_t w = std::min<int64_t>(a.right, r.left + int64_t{r.width}) -
                          std::max<int64_t>(a.left, r.left);
        const int64_t h = std::min<int64_t>(a.bottom, r.top + int64_t{r.height}) -
                          std::max<int64_t>(a.top, r.top);
        return w > 0 && h > 0 ? w * h : 0;
    };
    Area best = twips(workAreas.front());
    int64_t bestOverlap = overlap(best);
    for (const auto& p : workAreas) {
        const Area a = twips(p);
        if (const int64_t o = overlap(a); o > bestOverlap) {
            best = a;
            bestOverlap = o;
        }
    }
    const int64_t width = std::min<int64_t>(r.width, best.right - best.left);
    const int64_t height = std::min<int64_t>(r.height, best.bottom - best.top);
    const int64_t left = std::clamp<int64_t>(r.left, best.left, best.right - width);
    const int64_t top = std::clamp<int64_t>(r.top, best.top, best.bottom - height);
    return {static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(width),
            static_cast<int32_t>(height)};
}

bool clsSetFormPosition::SetFormPosition() {
    if (!CheckProperties()) return true;
    const int64_t tx = form_->TwipsPerPixelX();
    const int64_t ty = form_->TwipsPerPixelY();
    const WindowPlacementPort::PixelRect r = form_->NormalRect();
    int64_t left = int64_t{r.left} * tx;
    int64_t top = int64_t{r.top} * ty;
    const int64_t width = (int64_t{r.right} - r.left) * tx;
    const int64_t height = (int64_t{r.bottom} - r.top) * ty;
    if (left < 0) left = 0;
    if (top < 0) top = 0;
    return store_.Write(mainKey_, subKey_, valueKey_, FormatPosition(left, top, width, height));
}

}  // namespace kv
