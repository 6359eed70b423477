// Sign-in runs off the main thread: the screen keeps painting while the
// service takes seconds to answer.
#include "SigninFixture.h"

#include "LoginRegister.h"
#include "TestEnvironment.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QThread>
#include <QTimer>

namespace {

class PaintProbe : public QWidget {
public:
    using QWidget::QWidget;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *) override {
        ++paints;
        QPainter(this).fillRect(rect(), paints % 2 ? Qt::black : Qt::white);
    }
};

class DelayedReplyTest : public SigninFixture {};

} // namespace

TEST_F(DelayedReplyTest, WindowRepaintsWhileTheServiceDelaysItsAnswer) {
    server->setHandler(withTokens([](const scripted::Request &) {
        QThread::msleep(3000);
        return scripted::Reply::json(R"({"responseStatus":"FAILED"})");
    }));
    LoginRegister screen;
    PaintProbe probe(&screen);
    probe.setGeometry(0, 0, 8, 8);
    showScreen(&screen);
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &probe, [&] { probe.update(); });
    ticker.start(50);

    screen.controls().loginUsernameField->setText(QStringLiteral("ada@example.com"));
    screen.controls().loginPasswordField->setText(QStringLiteral("s3cret!"));
    QElapsedTimer clock;
    clock.start();
    screen.controls().loginBtn->click();
    EXPECT_LT(clock.elapsed(), 1000);
    const int before = probe.paints;
    ASSERT_TRUE(TestEnvironment::waitUntil(
        [&] { return screen.controls().loginErrorMessage->isVisible(); }, 20000));
    EXPECT_GE(clock.elapsed(), 2900);
    // About one paint per tick over three seconds; a blocked thread paints none.
    EXPECT_GE(probe.paints - before, 20);
    EXPECT_EQ(screen.controls().loginErrorMessage->text(),
              QStringLiteral("The e-mail address or password is not correct. Please try again."));
}
