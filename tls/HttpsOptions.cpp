#include "tls/HttpsOptions.h"

#include "sysproxy/SettingsFile.h"

HttpsOptions HttpsOptions::load(const SettingsFile& settings) {
    HttpsOptions options;
    std::uint32_t decrypt = 0;
    if (settings.readDword(kKey, "Decrypt", decrypt))
        options.decrypt = decrypt != 0;
    settings.readString(kKey, "PassThrough", options.passThrough);
    return options;
}

bool HttpsOptions::save(SettingsFile& settings) const {
    SettingsFile::Value decryptValue{"Decrypt", SettingsFile::Type::dword, decrypt ? 1u : 0u, {}};
    SettingsFile::Value listValue{"PassThrough", SettingsFile::Type::string, 0, passThrough};
    return settings.writeValues(kKey, {decryptValue, listValue});
}
