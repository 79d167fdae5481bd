// Fuzzes the configuration stored in the keyring item. Decoding never crashes and fails only
// with an exception; a decoded configuration that can be stored again reads back unchanged, and
// normalising it is idempotent and keeps it storable.

#include "FuzzSupport.h"

#include "core/AppConfiguration.h"

#include <exception>
#include <string>

using namespace quillby;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    AppConfiguration configuration;
    try {
        configuration = AppConfiguration::decode(std::string(reinterpret_cast<const char *>(data), size));
    } catch (const std::exception &) {
        return 0;
    }
    std::string stored;
    try {
        stored = configuration.encode();
    } catch (const ConfigurationError &) {
        // A value that cannot be stored (a threshold that is not finite) is refused, not written.
        stored.clear();
    }
    if (!stored.empty()) {
        AppConfiguration again;
        try {
            again = AppConfiguration::decode(stored);
        } catch (const std::exception &error) {
            std::fprintf(stderr, "a stored configuration did not read back: %s\n", error.what());
            std::abort();
        }
        FUZZ_CHECK(again == configuration);
    }
    const AppConfiguration normalized = configuration.normalized();
    FUZZ_CHECK(normalized.normalized() == normalized);
    return 0;
}
