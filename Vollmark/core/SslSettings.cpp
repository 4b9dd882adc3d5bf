#include "core/SslSettings.h"

#include "core/ControllerSettings.h"

#include "SettingsSchema.h"

#include <utility>

SslSettings ReadSslSettings(const CConfigAccessor& setting)
{
    CConfigReadLock lock(setting);
    SslSettings values;
    values.enable = schema::kEnableSsl.Read(setting, schema::kControllerDefault);
    values.port = static_cast<unsigned>(schema::kSslPort.Read(setting, schema::kControllerDefault));
    values.privateKey = schema::kSslPrivateKey.Read(setting, schema::kControllerDefault);
    values.password = schema::kSslPassword.Read(setting, schema::kControllerDefault);
    values.certificate = schema::kSslCertificate.Read(setting, schema::kControllerDefault);
    return values;
}

void StoreSslSettings(const CConfigAccessor& setting, const SslSettings& values)
{
    CConfigLock lock(setting);
    setting.SetInt(schema::kEnableSsl.path, values.enable);
    setting.SetInt(schema::kSslPort.path, static_cast<int>(values.port));
    setting.SetString(schema::kSslPrivateKey.path, values.privateKey);
    setting.SetString(schema::kSslPassword.path, values.password);
    setting.SetString(schema::kSslCertificate.path, values.certificate);
}

void TakeGeneratedKey(SslSettings& ssl, const GeneratedKey& made, const CControllerSettings& settings)
{
    ssl.password = made.passPhrase;
    for (auto [field, file] :
         {std::pair{&ssl.privateKey, &made.privateKey}, std::pair{&ssl.certificate, &made.certificate}}) {
        if (settings.ExpandServerPath(*field) != *file)
            *field = *file;
    }
}
