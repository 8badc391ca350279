// Shared code's prompts (Windows-1252 texts) reach the operator interface as
// Unicode dialogs with the right buttons.
#include <gtest/gtest.h>

#include "tests/gui/FakeOperatorUi.h"

namespace nv {
namespace {

TEST(OperatorUi, UserPromptCallsBecomeDialogs) {
    test::FakeOperatorUi ui;
    ui.answers = {DialogButton::No};
    UserPrompt& prompt = ui;
    EXPECT_FALSE(prompt.askYesNo("Upgrade", "Upgrade \x80 file?"));
    prompt.error("Error", "Provider Data File Not Compatiple With This Version!");
    ASSERT_EQ(ui.shown.size(), 2u);
    EXPECT_EQ(ui.shown[0].kind, DialogKind::Confirmation);
    EXPECT_EQ(ui.shown[0].text, QString::fromUtf8("Upgrade \u20ac file?"));
    EXPECT_EQ(ui.shown[0].buttons, (QList<DialogButton>{DialogButton::Yes, DialogButton::No}));
    EXPECT_EQ(ui.shown[1].kind, DialogKind::Error);
    EXPECT_EQ(ui.shown[1].title, "Error");
}

}  // namespace
}  // namespace nv
