#include "providers/GlucoseAPIClientFactory.h"

#include "core/AsciiText.h"
#include "providers/DexcomAPI.h"
#include "providers/LibreLinkUpAPI.h"

#include <QString>

namespace quillby {

std::shared_ptr<GlucoseAPIProtocol> makeGlucoseAPIClient(const GlucoseAccountConfiguration &configuration)
{
    if (configuration.provider == GlucoseProvider::libreLinkUp) {
        const std::string username = QString::fromStdString(configuration.username).trimmed().toStdString();
        const std::string region = asciiLowercased(configuration.region);
        std::optional<std::string> patientID = configuration.patientID;
        if (patientID && patientID->empty()) {
            patientID.reset();
        }
        return std::make_shared<LibreLinkUpAPI>(username, configuration.password, region, patientID);
    }
    return std::make_shared<DexcomAPI>(configuration.username, configuration.password, configuration.region);
}

bool isNoReadingsAvailableError(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const DexcomError &e) {
        return e.kind == DexcomError::Case::noReadingsAvailable;
    } catch (const LibreLinkUpError &e) {
        return e.kind == LibreLinkUpError::Case::noReadingsAvailable;
    } catch (...) {
        return false;
    }
}

} // namespace quillby
