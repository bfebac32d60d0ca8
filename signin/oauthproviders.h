#pragma once

#include <QList>
#include <QString>

// A provider whose sign-in addresses are known, so the user only fills in
// the client ID of their own app registration (PostOwl ships none).
struct OAuthProvider
{
    QString name;
    QString authorizeUrl;
    QString tokenUrl;
    QString scope;
    // "Other provider": the addresses and the scope are the user's to fill in.
    bool editable = false;
};

class OAuthProviders
{
public:
    // Microsoft, Google and, last, "Other provider".
    static QList<OAuthProvider> presets();
    // The preset whose addresses these are, or "Other provider".
    static OAuthProvider matching(const QString& authorizeUrl, const QString& tokenUrl);
};
