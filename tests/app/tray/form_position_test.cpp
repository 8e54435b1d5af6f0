// The window position store against a recorded window and the in-memory settings store.
#include <gtest/gtest.h>

#include "app/form_position.h"
#include "support/fakes.h"

namespace kv {
namespace {

class FakeWindow : public WindowPlacementPort {
public:
    PixelRect NormalRect() const override { return rect; }
    void Move(int32_t left, int32_t top, int32_t width, int32_t height) override {
        moves.push_back({left, top, width, height});
    }
    int32_t TwipsPerPixelX() const override { return 15; }
    int32_t TwipsPerPixelY() const override { return 15; }
    int32_t CurrentWidth() const override { return 2400; }
    int32_t CurrentHeight() const override { return 4500; }

    PixelRect rect;
    std::vector<std::array<int32_t, 4>> moves;
};

class FormPositionTest : public ::testing::Test {
protected:
    // Set up as the main window's instance is.
    void SetUp() override {
        pos.Form(&window);
        pos.MainKey("Qel");
        pos.SubKey("Kestrovan\\FormPos");
        pos.ValueKey("Main");
        pos.Left(0);
        pos.Top(0);
        pos.Width(1830);
        pos.Height(3890);
    }
    std::optional<std::string> Stored() { return store.Read("Qel", "Kestrovan\\FormPos", "Main"); }
    std::array<int32_t, 4> Restored(const std::string& stored) {
        store.Write("Qel", "Kestrovan\\FormPos", "Main", stored);
        window.moves.clear();
        pos.GetFormPosition();
        EXPECT_EQ(window.moves.size(), 1u);
        return window.moves.empty() ? std::array<int32_t, 4>{-1, -1, -1, -1} : window.moves[0];
    }

    test::MemorySettingsStore store;
    test::RecordingView view;
    FakeWindow window;
    clsSetFormPosition pos{store, &view};
};

TEST_F(FormPositionTest, SavesRestoredRectangleInTwipsAndReadsItBack) {
    window.rect = {100, 50, 222, 309};
    pos.SetFormPosition();
    EXPECT_EQ(Stored(), "1500 750 1830 3885");
    pos.GetFormPosition();
    ASSERT_EQ(window.moves.size(), 1u);
    EXPECT_EQ(window.moves[0], (std::array<int32_t, 4>{1500, 750, 1830, 3885}));
}

TEST_F(FormPositionTest, PartlyOffScreenIsSavedAtTheEdgeWithItsSize) {
    window.rect = {-40, -3, 82, 256};
    pos.SetFormPosition();
    EXPECT_EQ(Stored(), "0 0 1830 3885");
    window.rect = {-40, 20, 82, 276};
    pos.SetFormPosition();
    EXPECT_EQ(Stored(), "0 300 1830 3840");
}

TEST_F(FormPositionTest, FirstStartUsesTheDefaultsOrTheWindowsOwnSize) {
    pos.GetFormPosition();
    ASSERT_EQ(window.moves.size(), 1u);
    EXPECT_EQ(window.moves[0], (std::array<int32_t, 4>{0, 0, 1830, 3890}));
    EXPECT_FALSE(Stored().has_value());  // restoring writes nothing

    pos.Width(0);
    pos.Height(0);
    pos.Left(300);
    pos.GetFormPosition();
    EXPECT_EQ(window.moves[1], (std::array<int32_t, 4>{300, 0, 2400, 4500}));
}

TEST_F(FormPositionTest, BadStoredTextGivesZeroForTheBadFields) {
    EXPECT_EQ(Restored("1200 600"), (std::array<int32_t, 4>{1200, 600, 0, 0}));
    EXPECT_EQ(Restored("abc 600 x1 12y"), (std::array<int32_t, 4>{0, 600, 0, 12}));
    EXPECT_EQ(Restored(""), (std::array<int32_t, 4>{0, 0, 0, 0}));
    EXPECT_EQ(Restored("1200  600 1830 3890"), (std::array<int32_t, 4>{1200, 0, 600, 1830}));
    EXPECT_EQ(Restored("1 2 3 4 5 6"), (std::array<int32_t, 4>{1, 2, 3, 4}));
    EXPECT_EQ(Restored("-15 7.5 8.5 -"), (std::array<int32_t, 4>{-15, 8, 8, 0}));
    EXPECT_EQ(Restored("120 0 1830 3890 "), (std::array<int32_t, 4>{120, 0, 1830, 3890}));
}

TEST_F(FormPositionTest, NumbersBeyondSixteenBitsAreClampedBothWays) {
    // Wide desktops store more than 32767 twips; it comes back at the limit, not wrapped.
    window.rect = {2500, 10, 2622, 269};
    pos.SetFormPosition();
    EXPECT_EQ(Stored(), "37500 150 1830 3885");
    pos.GetFormPosition();
    EXPECT_EQ(window.moves.back(), (std::array<int32_t, 4>{32767, 150, 1830, 3885}));
    EXPECT_EQ(Restored("99999999999999999999 -70000 32767 -32768"),
              (std::array<int32_t, 4>{32767, -32768, 32767, -32768}));
}

TEST(FormPositionFormat, NegativeNumbersTakeThePlaceOfTheBlank) {
    EXPECT_EQ(clsSetFormPosition::FormatPosition(1200, 600, 1830, 3890), "1200 600 1830 3890");
    EXPECT_EQ(clsSetFormPosition::FormatPosition(0, 0, -30, 45), "0 0-30 45");
}

TEST(FormPositionProperties, MissingPropertyIsNamedAndNothingHappens) {
    test::MemorySettingsStore store;
    test::RecordingView view;
    FakeWindow window;
    store.Write("Qel", "S", "V", "1 2 3 4");

    clsSetFormPosition none(store, &view);
    none.GetFormPosition();
    none.SetFormPosition();
    ASSERT_EQ(view.boxes.size(), 2u);
    // All four missing: the last of them is named.
    EXPECT_EQ(view.boxes[0].text, "ValueKeyプロパティが設定されていません");
    EXPECT_EQ(view.boxes[0].title, "clsLetFormPosition");
    EXPECT_EQ(view.boxes[0].icon, MsgIcon::Exclamation);

    const struct {
        bool form;
        const char* main;
        const char* sub;
        const char* value;
        const char* named;
    } cases[] = {
        {false, "Qel", "S", "V", "Formプロパティが設定されていません"},
        {true, "", "S", "V", "MainKeyプロパティが設定されていません"},
        {false, "Qel", "", "V", "SubKeyプロパティが設定されていません"},
        {true, "Qel", "S", "", "ValueKeyプロパティが設定されていません"},
    };
    for (const auto& c : cases) {
        view.boxes.clear();
        clsSetFormPosition pos(store, &view);
        if (c.form) pos.Form(&window);
        pos.MainKey(c.main);
        pos.SubKey(c.sub);
        pos.ValueKey(c.value);
        pos.GetFormPosition();
        pos.SetFormPosition();
        ASSERT_EQ(view.boxes.size(), 2u) << c.named;
        EXPECT_EQ(view.boxes[1].text, c.named);
    }
    EXPECT_TRUE(window.moves.empty());
    EXPECT_EQ(store.Read("Qel", "S", "V"), "1 2 3 4");
}

}  // namespace
}  // namespace kv
