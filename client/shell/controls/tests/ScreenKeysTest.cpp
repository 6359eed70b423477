// Enter and Escape on a screen, as every screen installs them.
#include "ScreenKeys.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

// A window holding a screen with a field, a check box, two push buttons and
// a push button outside the screen.
class ScreenKeysTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto *layout = new QVBoxLayout(&window);
        screen = new QWidget;
        auto *inner = new QVBoxLayout(screen);
        field = new QLineEdit;
        check = new QCheckBox(QStringLiteral("Option"));
        main = new QPushButton(QStringLiteral("Go"));
        other = new QPushButton(QStringLiteral("Other"));
        for (QWidget *w : {static_cast<QWidget *>(field), static_cast<QWidget *>(check),
                           static_cast<QWidget *>(main), static_cast<QWidget *>(other)})
            inner->addWidget(w);
        outside = new QPushButton(QStringLiteral("Outside"));
        layout->addWidget(screen);
        layout->addWidget(outside);
        for (QPushButton *b : {main, other, outside})
            QObject::connect(b, &QPushButton::clicked, b, [this, b] { clicked << b->text(); });
    }
    void show() {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    QWidget window;
    QWidget *screen = nullptr;
    QLineEdit *field = nullptr;
    QCheckBox *check = nullptr;
    QPushButton *main = nullptr, *other = nullptr, *outside = nullptr;
    QStringList clicked;
    int escapes = 0;
};

TEST_F(ScreenKeysTest, EnterPressesTheFocusedButtonElseTheDefaultOne) {
    ScreenKeys::install(screen, main, [this] { ++escapes; });
    show();

    other->setFocus();
    QTest::keyClick(other, Qt::Key_Return);
    EXPECT_EQ(clicked, QStringList{"Other"});

    // From a field or a check box, both Enter keys mean the default button;
    // the check box is not toggled.
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    check->setFocus();
    QTest::keyClick(check, Qt::Key_Enter);
    EXPECT_EQ(clicked, QStringList({"Other", "Go", "Go"}));
    EXPECT_FALSE(check->isChecked());

    // A disabled or hidden default button is not pressed; a disabled focused
    // button leaves the choice to the default.
    main->setEnabled(false);
    QTest::keyClick(field, Qt::Key_Return);
    main->setEnabled(true);
    main->hide();
    QTest::keyClick(field, Qt::Key_Return);
    main->show();
    other->setEnabled(false);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(clicked, QStringList({"Other", "Go", "Go", "Go"}));

    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(escapes, 1);

    // Keys outside the screen are not its business.
    outside->setFocus();
    QTest::keyClick(outside, Qt::Key_Escape);
    QTest::keyClick(outside, Qt::Key_Return);
    EXPECT_EQ(escapes, 1);
    EXPECT_EQ(clicked.size(), 4);
}

TEST_F(ScreenKeysTest, TheDefaultButtonIsAskedAtEachPressAndEscapeIsOptional) {
    QAbstractButton *current = main;
    ScreenKeys::install(screen, [&current] { return current; });
    show();
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Return);
    current = other;
    QTest::keyClick(field, Qt::Key_Return);
    current = nullptr;
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(clicked, QStringList({"Go", "Other"}));
    QTest::keyClick(field, Qt::Key_Escape); // nothing installed: no effect, no crash
    EXPECT_EQ(escapes, 0);
}

} // namespace
