#include "Logging.h"

Q_LOGGING_CATEGORY(lcStore, "sonarbox.store")
Q_LOGGING_CATEGORY(lcService, "sonarbox.service")
Q_LOGGING_CATEGORY(lcSync, "sonarbox.sync")
Q_LOGGING_CATEGORY(lcAccounts, "sonarbox.accounts")
Q_LOGGING_CATEGORY(lcSettings, "sonarbox.settings")
Q_LOGGING_CATEGORY(lcShell, "sonarbox.shell")
