#include "CopyPasteTextfield.h"
#include "CustomTextField.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

// The window's own shortcut for Ctrl+V must not take the key from the field.
TEST(CopyPasteTextfield, CtrlShortcutsEditTheFieldItself) {
    QWidget window;
    auto *field = new CopyPasteTextfield(&window);
    QAction windowPaste(&window);
    windowPaste.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
    window.addAction(&windowPaste);
    QSignalSpy windowPasted(&windowPaste, &QAction::triggered);
    window.show();
    field->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    field->setText(QStringLiteral("hello"));
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(field->selectedText(), QStringLiteral("hello"));
    QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("hello"));
    QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QString());
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(field->text(), QStringLiteral("hellohello"));
    EXPECT_EQ(windowPasted.count(), 0);
}

TEST(CopyPasteTextfield, OtherModifiersAreNotThePasteCommand) {
    CopyPasteTextfield field;
    field.show();
    field.setFocus();
    QApplication::clipboard()->setText(QStringLiteral("XYZ"));
    field.setText(QStringLiteral("ab"));
    QTest::keyClick(&field, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(&field, Qt::Key_V, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_FALSE(field.text().contains(QStringLiteral("XYZ"))) << field.text().toStdString();
    EXPECT_TRUE(field.text().startsWith(QStringLiteral("ab")));
}

TEST(CustomTextField, BorderlessRalewayFourteen) {
    CustomTextField label(QStringLiteral("Text"));
    EXPECT_EQ(label.font().family(), QStringLiteral("Raleway"));
    EXPECT_EQ(label.font().pixelSize(), 14);
    EXPECT_EQ(label.frameShape(), QFrame::NoFrame);
    EXPECT_FALSE(label.autoFillBackground());
}
