#pragma once
// The HTTPS listener's settings as the SSL page edits them. A missing leaf reads as the
// controller shows it (common/SettingsSchema.h): the key and certificate names are not the
// server's own defaults but the files the key dialog makes. Texts are CP932.

#include "ConfigAccessor.h"

#include <string>

class CControllerSettings;

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

// What the key dialog made: full paths and the pass phrase the key opens with.
struct GeneratedKey {
    std::string privateKey;
    std::string certificate;
    std::string passPhrase;
};

// The page's fields after a generation, so that the server starts with the new key: the
// pass phrase always (the key opens with no other); a file field only where it names
// another file once `settings` expands %ServerRoot% in it, so a field naming the same file
// through the placeholder keeps that form.
void TakeGeneratedKey(SslSettings& ssl, const GeneratedKey& made, const CControllerSettings& settings);
