#include "PhWebViewController.h"

#include "PhFacebook.h"

void PhWebViewController::showUI() {
    showWindow();
    if (parentFacebook)
        parentFacebook->webViewWillShowUI();
}

void PhWebViewController::cancel() {
    if (parentFacebook)
        parentFacebook->didDismissUI();
    hideWindow();
}

void PhWebViewController::didCommitLoad(const QUrl &address) {
    if (addressBeginsWith(address.toString(), PhFacebook::dialogPage()))
        showUI();
}

void PhWebViewController::didFinishLoad(const QUrl &address) {
    const QString text = address.toString();
    if (!addressBeginsWith(text, PhFacebook::loginSuccessPage())) {
        showUI();
        return;
    }
    const std::optional<QString> token = extractParameter(QStringLiteral("access_token="), text);
    const std::optional<QString> expiresIn = extractParameter(QStringLiteral("expires_in="), text);
    const std::optional<QString> error =
        extractParameter(QStringLiteral("error_description="), text);
    hideWindow();
    if (parentFacebook)
        parentFacebook->setAccessToken(
            token.value_or(QString()), expiresIn ? expiresIn->toDouble() : 0.0, permissions,
            error ? QUrl::fromPercentEncoding(error->toUtf8()) : QString());
}

std::optional<QString> PhWebViewController::extractParameter(const QString &name,
                                                             const QString &address) {
    const qsizetype at = address.indexOf(name, 0, Qt::CaseInsensitive);
    if (at < 0)
        return std::nullopt;
    const qsizetype start = at + name.size();
    const qsizetype end = address.indexOf(QLatin1Char('&'), start);
    return address.mid(start, end < 0 ? -1 : end - start);
}

bool PhWebViewController::addressBeginsWith(const QString &address, const QString &target) {
    // Only web addresses take part: anything else (about:blank, data: …)
    // never matches, whatever follows its scheme.
    qsizetype schemeLength = 0;
    if (address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        schemeLength = 8;
    else if (address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive))
        schemeLength = 7;
    else
        return false;
    return !target.isEmpty() &&
           QStringView(address).mid(schemeLength).startsWith(target, Qt::CaseInsensitive);
}
