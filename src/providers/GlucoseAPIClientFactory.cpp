#include "providers/GlucoseAPIClientFactory.h"

#include "core/AsciiText.h"

#include <QString>

namespace quillby {

namespace {

std::shared_ptr<GlucoseAPIProtocol> makeClient(const GlucoseAccountConfiguration &account,
                                               const GlucoseAPIClientOptions &options)
{
    switch (account.provider) {
    case GlucoseProvider::dexcom:
        return std::make_shared<DexcomAPI>(account.username, account.password, account.region, options.dexcom);
    case GlucoseProvider::libreLinkUp: {
        const std::string username = QString::fromStdString(account.username).trimmed().toStdString();
        std::optional<std::string> patientID = account.patientID;
        if (patientID && patientID->empty()) {
            patientID.reset();
        }
        return std::make_shared<LibreLinkUpAPI>(username, account.password, asciiLowercased(account.region),
                                                patientID, options.libreLinkUp);
    }
    }
    return std::make_shared<DexcomAPI>(account.username, account.password, account.region, options.dexcom);
}

} // namespace

std::shared_ptr<GlucoseAPIProtocol> makeGlucoseAPIClient(const GlucoseAccountConfiguration &account)
{
    return makeClient(account, GlucoseAPIClientOptions{});
}

GlucoseAPIFactory glucoseAPIFactory(GlucoseAPIClientOptions options)
{
    return [options = std::move(options)](const GlucoseAccountConfiguration &account) {
        return makeClient(account, options);
    };
}

} // namespace quillby
