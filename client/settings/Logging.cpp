// Debug lines (one per file of a scan, for example) are off unless asked for
// with QT_LOGGING_RULES="sonarbox.*.debug=true".
#include "Logging.h"

Q_LOGGING_CATEGORY(lcStore, "sonarbox.store", QtInfoMsg)
Q_LOGGING_CATEGORY(lcService, "sonarbox.service", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSync, "sonarbox.sync", QtInfoMsg)
Q_LOGGING_CATEGORY(lcAccounts, "sonarbox.accounts", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSettings, "sonarbox.settings", QtInfoMsg)
Q_LOGGING_CATEGORY(lcShell, "sonarbox.shell", QtInfoMsg)
