// SPDX-License-Identifier: GPL-3.0-or-later
// The window position store against a recorded window and the in-memory settings store.
#include <gtest/gtest.h>

#include "app/form_position.h"
#include "support/fakes.h"

namespace kv {
namespace {

using Rect = std::array<int32_t, 4>;

class FakeWindow : public WindowPlacementPort {
  public:
    PixelRect NormalRect() const override { return rect; }
    void Move(int32_t l, int32_t t, int32_t w, int32_t h) override {
        moves.push_back({l, t, w, h});
    }
    std::vector<PixelRect> WorkAreas() const override { return areas; }
    int32_t TwipsPerPixelX() const override { return 15; }
    int32_t TwipsPerPixelY() const override { return 15; }
    int32_t CurrentWidth() const override { return 2400; }
    int32_t CurrentHeight() const override { return 4500; }
    PixelRect rect;
    std::vector<PixelRect> areas;  // none: nothing to keep the window inside
    std::vector<Rect> moves;
};

class FormPositionTest : public ::testing::Test {
  protected:
    void SetUp() override {  // as the main window's instance is set up
        pos.Form(&window);
        pos.MainKey("Qel");
        pos.SubKey("Kestrovan\\FormPos");
        pos.ValueKey("Main");
        pos.Width(1830);
        pos.Height(3890);
    }
    std::string Saved(WindowPlacementPort::PixelRect r) {
        window.rect = r;
        pos.SetFormPosition();
        return store.Read("Qel", "Kestrovan\\FormPos", "Main").value_or("(none)");
    }
    Rect Restored() {
        pos.GetFormPosition();
        return window.moves.empty() ? Rect{-1, -1, -1, -1} : window.moves.back();
    }
    Rect Restored(const std::string& stored) {
        store.Write("Qel", "Kestrovan\\FormPos", "Main", stored);
        return Restored();
    }
    test::MemorySettingsStore store;
    test::RecordingView view;
    FakeWindow window;
    clsSetFormPosition pos{store, &view};
};

TEST_F(FormPositionTest, SavesTheRestoredRectangleInTwipsAndReadsItBack) {
    EXPECT_EQ(Restored(), (Rect{0, 0, 1830, 3890}));  // nothing stored yet
    pos.Width(0);
    pos.Height(0);
    EXPECT_EQ(Restored(), (Rect{0, 0, 2400, 4500}));  // no default size: the window's own
    EXPECT_EQ(Saved({100, 50, 222, 309}), "1500 750 1830 3885");
    EXPECT_EQ(Restored(), (Rect{1500, 750, 1830, 3885}));
    // Partly off the left or top edge: saved at 0 on that side, size kept.
    EXPECT_EQ(Saved({-40, -3, 82, 256}), "0 0 1830 3885");
    EXPECT_EQ(Saved({-40, 20, 82, 276}), "0 300 1830 3840");
    // Beyond 16 bits on a wide desktop: stored as is, restored at the limit, not wrapped.
    EXPECT_EQ(Saved({2500, 10, 2622, 269}), "37500 150 1830 3885");
    EXPECT_EQ(Restored(), (Rect{32767, 150, 1830, 3885}));
}

TEST_F(FormPositionTest, BadStoredTextGivesZeroForTheBadFieldsAndABadSizeTheDefault) {
    EXPECT_EQ(Restored("1200 600"), (Rect{1200, 600, 1830, 3890}));
    EXPECT_EQ(Restored("abc 600 x1 12y"), (Rect{0, 600, 1830, 3890}));
    EXPECT_EQ(Restored(""), (Rect{0, 0, 1830, 3890}));
    EXPECT_EQ(Restored("1200  600 1830 3890"), (Rect{1200, 0, 1830, 3890}));
    EXPECT_EQ(Restored("1 2 3000 4000 5 6"), (Rect{1, 2, 3000, 4000}));
    EXPECT_EQ(Restored("-15 7.5 1000.5 2000.5"), (Rect{-15, 8, 1000, 2000}));
    EXPECT_EQ(Restored("99999999999999999999 -70000 32767 -32768"),
              (Rect{32767, -32768, 1830, 3890}));
    EXPECT_EQ(clsSetFormPosition::FormatPosition(0, 0, -30, 45), "0 0-30 45");
}

TEST_F(FormPositionTest, KeepsTheFrameInsideTheWorkAreaItOverlapsMost) {
    // Two screens side by side, each with a 32-pixel panel along its top.
    window.areas = {{0, 32, 1024, 768}, {1024, 32, 2048, 768}};
    const struct {
        const char* stored;
        Rect placed;
    } cases[] = {
        {"3000 1500 1830 3885", {3000, 1500, 1830, 3885}},     // inside: as stored
        {"0 0 1830 3890", {0, 480, 1830, 3890}},               // under the panel
        {"-900 -900 1830 3890", {0, 480, 1830, 3890}},         // off the top left
        {"32767 32767 1830 3890", {13530, 7630, 1830, 3890}},  // off every screen: the primary
        {"14500 600 1830 3890", {15360, 600, 1830, 3890}},     // mostly on the right one
        {"14000 600 1830 3890", {13530, 600, 1830, 3890}},     // mostly on the left one
        {"0 0 30 675", {0, 480, 1830, 3890}},                  // 2 x 45 pixels: default size
        {"0 0 914 3890", {0, 480, 1830, 3890}},                // narrower than half the default
        {"0 0 915 1945", {0, 480, 915, 1945}},                 // half the default is usable
        {"0 900 1830 32767", {0, 480, 1830, 11040}},           // taller than the area
    };
    for (const auto& c : cases) EXPECT_EQ(Restored(c.stored), c.placed) << c.stored;
    // Nothing stored, the first start: the top left corner of the primary area.
    store.values.clear();
    EXPECT_EQ(Restored(), (Rect{0, 480, 1830, 3890}));
}

TEST_F(FormPositionTest, MissingPropertyIsNamedAndNothingIsReadWrittenOrMoved) {
    store.Write("Qel", "S", "V", "1 2 3 4");
    const struct {
        bool form;
        const char *main, *sub, *value, *named;
    } cases[] = {
        {false, "", "", "", "ValueKey"},  // several missing: the last of them is named
        {false, "Qel", "S", "V", "Form"},  {true, "", "S", "V", "MainKey"},
        {false, "Qel", "", "V", "SubKey"}, {true, "Qel", "S", "", "ValueKey"},
    };
    for (const auto& c : cases) {
        view.boxes.clear();
        clsSetFormPosition p(store, &view);
        if (c.form) p.Form(&window);
        p.MainKey(c.main);
        p.SubKey(c.sub);
        p.ValueKey(c.value);
        p.GetFormPosition();
        p.SetFormPosition();
        ASSERT_EQ(view.boxes.size(), 2u) << c.named;
        EXPECT_EQ(view.boxes[1].text, std::string(c.named) + "プロパティが設定されていません");
        EXPECT_EQ(view.boxes[1].title, "clsLetFormPosition");
        EXPECT_EQ(view.boxes[1].icon, MsgIcon::Exclamation);
    }
    EXPECT_TRUE(window.moves.empty());
    EXPECT_EQ(store.values.size(), 1u);
}

}  // namespace
}  // namespace kv
