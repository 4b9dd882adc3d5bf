// The SSL page's fields and the leaves they stand for.

#include "core/SslSettings.h"

#include "core/ControllerSettings.h"

#include "SettingTree.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::ReadFromSetting;
using testsupport::StoreIntoSetting;
using Strings = std::vector<std::string>;

Strings Values(const SslSettings& ssl)
{
    return {std::to_string(ssl.enable), std::to_string(ssl.port), ssl.privateKey, ssl.password, ssl.certificate};
}

TEST(SslSettingsTest, MissingLeavesReadAsTheKeyDialogsFiles)
{
    const Strings defaults = {"0", "443", "%ServerRoot%SSLKey/Tarnwick.pem", "wemp", "%ServerRoot%SSLKey/Tarnwick.crt"};
    const testsupport::StoredValuesCase cases[] = {
        {"none stored", {}, defaults},
        {"each stored one as stored",
         {{"Basic::EnableSSL", "1"},
          {"SSL::Port", "8443"},
          {"SSL::PrivateKey", "/k.pem"},
          {"SSL::Password", ""},
          {"SSL::Certificate", "/c.crt"}},
         {"1", "8443", "/k.pem", "", "/c.crt"}},
        {"port 0 is a port", {{"SSL::Port", "0"}}, {"0", "0", defaults[2], defaults[3], defaults[4]}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(Values(ReadFromSetting(c.stored, ReadSslSettings)), c.values);
    }
}

TEST(SslSettingsTest, AllFiveAreStoredAsTheyStand)
{
    const SslSettings ssl = {1, 65535, "%ServerRoot%鍵.pem", "pass phrase", ""};
    EXPECT_EQ(StoreIntoSetting({{"Basic::Port", "80"}}, "",
                               [&](const CConfigAccessor& setting) { StoreSslSettings(setting, ssl); }),
              "Tarnwick{Basic{Port=80;EnableSSL=1;}SSL{Port=65535;PrivateKey=%ServerRoot%鍵.pem;"
              "Password=pass phrase;Certificate=;}}");
}

TEST(SslSettingsTest, GeneratedKeyTakesThePassPhraseAndTheFilesWhereTheyDiffer)
{
    const std::string root = "/srv/ルート/";
    CControllerSettings settings;
    settings.Load(root);
    const GeneratedKey made = {root + "SSLKey/Tarnwick.pem", root + "SSLKey/Tarnwick.crt", "新しいパス"};
    const struct {
        const char* description;
        const char* key;
        const char* certificate;
        Strings fields;  // key, pass phrase, certificate afterwards
    } cases[] = {
        {"the same files through the placeholder",
         "%ServerRoot%SSLKey/Tarnwick.pem",
         "%ServerRoot%SSLKey/Tarnwick.crt",
         {"%ServerRoot%SSLKey/Tarnwick.pem", "新しいパス", "%ServerRoot%SSLKey/Tarnwick.crt"}},
        {"the same files written out",
         "/srv/ルート/SSLKey/Tarnwick.pem",
         "/srv/ルート/SSLKey/Tarnwick.crt",
         {made.privateKey, "新しいパス", made.certificate}},
        {"other files", "/etc/ssl/site.pem", "%ServerRoot%site.crt", {made.privateKey, "新しいパス", made.certificate}},
        {"only the key differs",
         "/old.pem",
         "%ServerRoot%SSLKey/Tarnwick.crt",
         {made.privateKey, "新しいパス", "%ServerRoot%SSLKey/Tarnwick.crt"}},
        {"empty fields", "", "", {made.privateKey, "新しいパス", made.certificate}},
    };
    for (const auto& c : cases) {
        SslSettings ssl = {1, 443, c.key, "old", c.certificate};
        TakeGeneratedKey(ssl, made, settings);
        EXPECT_EQ((Strings{ssl.privateKey, ssl.password, ssl.certificate}), c.fields) << c.description;
        EXPECT_EQ(ssl.enable, 1) << c.description;
        EXPECT_EQ(ssl.port, 443u) << c.description;
    }
}

}  // namespace
