#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QEvent>
#include <QAbstractButton>
#include <QLabel>
#include <QSignalSpy>
#include <stdexcept>
#include <QTest>
#include <vector>

#include "DescriptorsUsedUp.h"
#include "controls/Slider.h"
#include "support/ManualTimerService.h"
#include "support/ScopedManualWindowClock.h"
#include "platform/MessageBox.h"
#include "support/MessageRecorder.h"
#include "platform/ui/UiApplication.h"
#include "platform/ui/UiMessageBox.h"
#include "platform/WindowTimer.h"
#include "settings/WindowTestSupport.h"

using vozaro::platform::ManualTimerService;
using vozaro::platform::ScopedManualWindowClock;
using vozaro::platform::WindowTimer;

namespace {

TEST(SliderControl, ClampsRaisesChangesOnlyWhenTheValueChangesAndKeepsProgramValues) {
    testApplication();
    struct Case {
        int minimum, maximum, increment, start, set, expected;
    } cases[] = {
        {0, 65535, 1, 0, 70000, 65535},    // above the range
        {-24, 24, 1, 0, -30, -24},          // below it
        {0, 32768, 100, 0, 1817, 1817},     // between two steps: kept as set
        {0, 100, 1, 50, 50, 50},            // the same value: no event
    };
    for (const Case& c : cases) {
        Slider slider(nullptr, c.minimum, c.maximum, c.increment);
        slider.setValue(c.start);
        QSignalSpy changes(&slider, &QAbstractSlider::valueChanged);
        slider.setValue(c.set);
        EXPECT_EQ(slider.value(), c.expected) << c.set;
        EXPECT_EQ(changes.count(), c.expected == c.start ? 0 : 1) << c.set;
    }
}

TEST(SliderControl, TheUserMovesInStepsOfTheIncrement) {
    testApplication();
    Slider slider(nullptr, 0, 32768, 100);
    slider.resize(400, 20);
    slider.setValue(1817);
    slider.triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(slider.value(), 1917);
    // A drag lands on a step counted from the minimum, or on the maximum.
    slider.setSliderDown(true);
    slider.setSliderPosition(1949);
    slider.triggerAction(QAbstractSlider::SliderMove);
    EXPECT_EQ(slider.value(), 1900);
    slider.setSliderPosition(32768);
    slider.triggerAction(QAbstractSlider::SliderMove);
    EXPECT_EQ(slider.value(), 32768);
    slider.setSliderDown(false);
}

TEST(WindowClock, TimersFallDueOnTheTestClockInOrderAndWaitsAdvanceIt) {
    testApplication();
    ManualTimerService service;
    ScopedManualWindowClock clock(service);
    std::vector<std::pair<char, std::uint64_t>> fired;
    WindowTimer repeating([&] { fired.emplace_back('r', clock.elapsed()); });
    repeating.setInterval(50);
    WindowTimer once([&] { fired.emplace_back('o', clock.elapsed()); });
    once.setSingleShot(true);
    repeating.start();
    once.start(100);
    clock.advance(160);
    repeating.stop();
    EXPECT_FALSE(once.isActive());
    // Timers due at the same moment run in the order they were (re)started.
    const std::vector<std::pair<char, std::uint64_t>> expected = {
        {'r', 50}, {'o', 100}, {'r', 100}, {'r', 150}};
    EXPECT_EQ(fired, expected);
    EXPECT_EQ(service.nowMs(), 160u);
    EXPECT_EQ(&vozaro::platform::currentTimerService(), &service);

    // A handler that pauses: the pause runs on the same clock, and other
    // timers keep firing inside it.
    fired.clear();
    WindowTimer pause;
    pause.setSingleShot(true);
    WindowTimer outer([&] {
        pause.start(2000);
        vozaro::platform::waitWhile([&] { return pause.isActive(); });
        fired.emplace_back('p', clock.elapsed());
    });
    outer.setSingleShot(true);
    repeating.setInterval(1000);
    repeating.start();
    outer.start(10);
    clock.advance(10);
    repeating.stop();
    const std::vector<std::pair<char, std::uint64_t>> nested = {
        {'r', 1160}, {'r', 2160}, {'p', 2170}};
    EXPECT_EQ(fired, nested);

    // A wait for something that never happens gives up instead of hanging.
    vozaro::platform::waitWhile([] { return true; });
    EXPECT_EQ(clock.waitsGivenUp(), 1);
}

TEST(WindowClock, WithoutAManualClockTimersAreRealAndStopCleanly) {
    testApplication();
    EXPECT_EQ(&vozaro::platform::currentTimerService(),
              &vozaro::platform::systemTimerService());
    int fired = 0;
    WindowTimer timer([&] { ++fired; });
    timer.setSingleShot(true);
    timer.start(1);
    EXPECT_TRUE(timer.isActive());
    vozaro::platform::waitWhile([&] { return timer.isActive(); });
    EXPECT_EQ(fired, 1);
    timer.start(60000);
    timer.stop();
    EXPECT_FALSE(timer.isActive());
}

}  // namespace

namespace {

// An object whose event handler fails the way an engine call can.
class FailingReceiver : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User)
            throw std::runtime_error("Invalid MIDI file header");
        return QObject::event(event);
    }
};

TEST(DefaultErrorReport, AnErrorNoHandlerCaughtBecomesAnErrorMessageAndTheProgramGoesOn) {
    testApplication();
    vozaro::platform::ScopedMessageRecorder messages;
    FailingReceiver receiver;
    QCoreApplication::postEvent(&receiver, new QEvent(QEvent::User));
    QMetaObject::invokeMethod(
        &receiver, [] { throw std::logic_error("Track stream is full"); }, Qt::QueuedConnection);
    QCoreApplication::processEvents();
    {
        ManualTimerService service;
        ScopedManualWindowClock clock(service);
        int after = 0;
        WindowTimer failing([] { throw std::out_of_range("Port index out of range"); });
        WindowTimer next([&] { ++after; });
        failing.setSingleShot(true);
        next.setSingleShot(true);
        failing.start(10);
        next.start(20);
        clock.advance(20);
        EXPECT_EQ(after, 1);  // the clock and its other timers go on
    }
    std::vector<std::string> texts;
    for (const auto& message : messages.messages()) {
        EXPECT_EQ(message.icon, vozaro::platform::MessageIcon::Error);
        texts.push_back(message.text);
    }
    const std::vector<std::string> expected = {
        "Invalid MIDI file header", "Track stream is full", "Port index out of range"};
    EXPECT_EQ(texts, expected);
}

}  // namespace

namespace {

// The real message boxes: Portuguese buttons, No as the default answer, and
// the text shown as it is, never read as markup (a song named "<b>").
TEST(WindowMessageBoxes, AskInPortugueseWithNoAsTheDefault) {
    QApplication& app = testApplication();
    EXPECT_TRUE(vozaro::platform::installPortugueseDialogTexts(app));
    const vozaro::platform::MessageResponder previous = vozaro::platform::setMessageResponder({});
    vozaro::platform::installWindowMessageBoxes();
    struct Case {
        vozaro::platform::MessageButtons buttons;
        QStringList texts;
        vozaro::platform::MessageResult answer;  // what Enter gives
    } cases[] = {
        {vozaro::platform::MessageButtons::YesNo, {"Sim", "Não"}, vozaro::platform::MessageResult::No},
        {vozaro::platform::MessageButtons::OkCancel, {"OK", "Cancelar"}, vozaro::platform::MessageResult::Ok},
    };
    for (const Case& c : cases) {
        QStringList seen;
        QString shown;
        QTimer::singleShot(0, [&] {
            QWidget* box = QApplication::activeModalWidget();
            ASSERT_NE(box, nullptr);
            for (const QLabel* label : box->findChildren<QLabel*>())
                if (label->textFormat() == Qt::PlainText)
                    shown += label->text();
            for (QAbstractButton* button : box->findChildren<QAbstractButton*>())
                if (!button->text().isEmpty())
                    seen << button->text().remove(QLatin1Char('&'));
            QTest::keyClick(box, Qt::Key_Return);
        });
        const auto result = vozaro::platform::showMessage("Pergunta <b>", vozaro::platform::MessageIcon::Question,
                                                          c.buttons);
        EXPECT_EQ(shown, QStringLiteral("Pergunta <b>"));
        seen.sort();
        QStringList expected = c.texts;
        expected.sort();
        EXPECT_EQ(seen, expected);
        EXPECT_EQ(result, c.answer);
    }
    vozaro::platform::setMessageResponder(previous);
}

// A message that needs no answer, raised while no file descriptor is left (a
// flood of connections), is held back instead of opening a box whose window
// may never be drawn and then waiting on it for good: the program goes on,
// and the box shows once descriptors are free again.
TEST(WindowMessageBoxes, AMessageWaitsForDescriptorsInsteadOfHoldingTheProgram) {
    testApplication();
    const vozaro::platform::MessageResponder previous = vozaro::platform::setMessageResponder({});
    vozaro::platform::installWindowMessageBoxes();
    QStringList opened;  // every box that opens is noted and answered
    QTimer answer;
    answer.setInterval(20);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            for (const QLabel* label : box->findChildren<QLabel*>())
                if (label->textFormat() == Qt::PlainText)
                    opened << label->text();
            QTest::keyClick(box, Qt::Key_Return);
        }
    });
    answer.start();
    {
        vozaro::test::DescriptorsUsedUp used;
        EXPECT_EQ(vozaro::platform::showMessage("Agora não", vozaro::platform::MessageIcon::Error),
                  vozaro::platform::MessageResult::Ok);
    }
    EXPECT_TRUE(opened.isEmpty());
    for (int k = 0; k < 300 && opened.isEmpty(); ++k)
        QTest::qWait(10);
    EXPECT_EQ(opened, QStringList{QStringLiteral("Agora não")});
    vozaro::platform::setMessageResponder(previous);
}

}  // namespace
