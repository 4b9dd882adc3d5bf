#pragma once
// The HTTPS listener's settings as the SSL page edits them. A missing leaf reads as the
// controller shows it (common/SettingsSchema.h): the key and certificate names are not the
// server's own defaults but the files the key dialog makes. Texts are CP932.

#include "ConfigAccessor.h"

#include <string>

struct SslSettings {
    int enable = 0;           // Basic::EnableSSL
    unsigned port = 0;        // SSL::Port
    std::string privateKey;   // SSL::PrivateKey
    std::string password;     // SSL::Password, in clear text as the server reads it
    std::string certificate;  // SSL::Certificate
};

// The stored values under `setting` (a "Setting" node), each missing one as its default.
// Creates no node.
SslSettings ReadSslSettings(const CConfigAccessor& setting);

// Stores all five as they are, as one step of the tree; the port must fit an int (the page
// takes none above 65535).
void StoreSslSettings(const CConfigAccessor& setting, const SslSettings& ssl);
