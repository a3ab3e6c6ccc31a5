#include <gtest/gtest.h>

#include "platform/MessageBox.h"
#include "support/MessageRecorder.h"

using namespace vozaro::platform;

TEST(MessageBox, UnansweredQuestionDefaultsToNo) {
    auto previous = setMessageResponder({});
    EXPECT_EQ(showMessage("Excluir?", MessageIcon::Question, MessageButtons::YesNo), MessageResult::No);
    EXPECT_EQ(showMessage("Erro", MessageIcon::Error), MessageResult::Ok);
    setMessageResponder(previous);
}

TEST(MessageBox, RecorderKeepsTextIconAndAnswersThenRestores) {
    {
        ScopedMessageRecorder recorder(MessageResult::Yes);
        EXPECT_EQ(showMessage("Tem certeza?", MessageIcon::Question, MessageButtons::YesNo), MessageResult::Yes);
        ASSERT_EQ(recorder.messages().size(), 1u);
        EXPECT_EQ(recorder.messages()[0].text, "Tem certeza?");
        EXPECT_EQ(recorder.messages()[0].icon, MessageIcon::Question);
        {
            ScopedMessageRecorder inner(MessageResult::No);
            EXPECT_EQ(showMessage("x", MessageIcon::Warning, MessageButtons::YesNo), MessageResult::No);
        }
        EXPECT_EQ(showMessage("y", MessageIcon::Warning, MessageButtons::YesNo), MessageResult::Yes);
        EXPECT_EQ(recorder.messages().size(), 2u);
    }
    EXPECT_EQ(showMessage("z", MessageIcon::Warning, MessageButtons::YesNo), MessageResult::No);
}
