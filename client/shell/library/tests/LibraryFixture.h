#pragma once

#include "CoordinatorFixture.h"
#include "library/FolderDialogs.h"
#include "settings/NotificationCenter.h"

#include <QSettings>

#include <ostream>

// Failure messages show texts as texts.
inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}

// The coordinator fixture plus what the library screens need: a record of
// the notifications they post, a folder chooser that answers as the test
// says, and a look into the preference file.
class LibraryScreenTest : public CoordinatorTest {
protected:
    struct Posted {
        QString name;
        QObject *object;
    };

    // The screens' own reports to the status menu.
    struct ScreenMenu : StatusMenu {
        QStringList calls;
        void statusMenuLibraryPickerView() override { calls << "LibraryPickerView"; }
        void statusMenuScanSummaryView() override { calls << "ScanSummaryView"; }
    };

    void SetUp() override {
        CoordinatorTest::SetUp();
        sonarbox().setStatusMenu(&screenMenu);
        for (const char *name :
             {"showMediaScanSummaryNotification", "showProcessingViewNotification",
              "showMediaPickerViewNotification"}) {
            const QString n = QLatin1String(name);
            observers << NotificationCenter::defaultCenter().addObserver(
                n, [this, n](QObject *object) {
                    posted.append({n, object});
                });
        }
        FolderDialogs::setChooser(
            [this](const FolderDialogs::Request &request, FolderDialogs::Answer answer) {
                requests.append(request);
                answer(nextAnswer);
            });
    }
    void TearDown() override {
        for (int token : observers)
            NotificationCenter::defaultCenter().removeObserver(token);
        FolderDialogs::setChooser({});
        CoordinatorTest::TearDown();
    }

    // The preference file as another program would read it.
    QVariant preference(const char *key) {
        QSettings file(dir.filePath("prefs.conf"), QSettings::IniFormat);
        return file.value(QLatin1String(key));
    }

    ScreenMenu screenMenu;
    QList<int> observers;
    QList<Posted> posted;
    QList<FolderDialogs::Request> requests;
    QStringList nextAnswer;
};
