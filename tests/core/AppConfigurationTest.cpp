#include "core/AppConfiguration.h"
#include "core/KeychainItemStoring.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quillby {
namespace {

using nlohmann::json;

json requiredAppKeys()
{
    return json{{"measurementUnit", "mg/dL"}, {"lowGlucoseThreshold", 70}, {"highGlucoseThreshold", 180}};
}

TEST(AppConfigurationJSON, EncodesKeysInDocumentedOrder)
{
    AppConfiguration configuration;
    configuration.account.provider = GlucoseProvider::libreLinkUp;
    configuration.account.username = "a@b.c";
    configuration.account.password = "pw";
    configuration.account.region = "eu";
    configuration.account.patientID = "p-1";
    configuration.account.patientName = "Pat";
    EXPECT_EQ(configuration.encode(),
              R"({"account":{"provider":"libreLinkUp","username":"a@b.c","password":"pw","region":"eu",)"
              R"("patientID":"p-1","patientName":"Pat"},)"
              R"("app":{"measurementUnit":"mmol/L","lowGlucoseThreshold":72.0,"highGlucoseThreshold":270.0,)"
              R"("graphTimeWindowHours":6,"startAtLogin":false,"alertsEnabled":true,"alertOnLowThreshold":true,)"
              R"("alertOnHighThreshold":true,"alertOnRapidFall":true,"alertOnRapidRise":true,)"
              R"("quietHoursEnabled":false,"quietHoursStartMinutes":1320,"quietHoursEndMinutes":420,)"
              R"("allowLowAlertsDuringQuietHours":false,"lowAlertRepeatMinutes":0,"snoozeLowAlerts":true,)"
              R"("snoozeHighAlerts":true,"snoozeRapidChangeAlerts":true}})");
    EXPECT_EQ(AppConfiguration::decode(configuration.encode()), configuration);
}

TEST(AppConfigurationJSON, OptionalKeysLeftOutWhenAbsent)
{
    AppConfiguration configuration;
    configuration.app.graphTimeWindowHours.reset();
    const json encoded = json::parse(configuration.encode());
    EXPECT_FALSE(encoded["app"].contains("graphTimeWindowHours"));
    EXPECT_FALSE(encoded["account"].contains("patientID"));
    EXPECT_FALSE(encoded["account"].contains("patientName"));
    EXPECT_FALSE(encoded.contains("dexcom"));
    EXPECT_EQ(AppConfiguration::decode(configuration.encode()), configuration);
}

TEST(AppConfigurationJSON, NeverWritesNonFiniteNumbers)
{
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
        AppConfiguration low;
        low.app.lowGlucoseThreshold = bad;
        EXPECT_THROW(low.encode(), ConfigurationError);
        AppConfiguration high;
        high.app.highGlucoseThreshold = bad;
        try {
            high.encode();
            ADD_FAILURE() << "encoded a non-finite threshold";
        } catch (const ConfigurationError &error) {
            EXPECT_EQ(error.kind, ConfigurationError::Case::invalidConfiguration);
        }
        // What the manager saves is always normalized, and that encodes.
        EXPECT_NO_THROW(high.normalized().encode());
        EXPECT_EQ(high.normalized().app.highGlucoseThreshold, 270);
        EXPECT_EQ(low.normalized().app.lowGlucoseThreshold, 72);
    }
}

TEST(AppConfigurationJSON, OlderDexcomFormLoadsAsDexcomAccount)
{
    const json stored{{"dexcom", {{"username", "u"}, {"password", "p"}, {"region", "us"}}}, {"app", requiredAppKeys()}};
    const auto configuration = AppConfiguration::decode(stored.dump());
    EXPECT_EQ(configuration.account.provider, GlucoseProvider::dexcom);
    EXPECT_EQ(configuration.account.username, "u");
    EXPECT_EQ(configuration.account.password, "p");
    EXPECT_EQ(configuration.account.region, "us");
    EXPECT_FALSE(configuration.account.patientID);
    const json saved = json::parse(configuration.normalized().encode());
    EXPECT_TRUE(saved.contains("account"));
    EXPECT_FALSE(saved.contains("dexcom"));
}

TEST(AppConfigurationJSON, AccountWinsOverDexcom)
{
    const json stored{{"dexcom", {{"username", "old"}, {"password", "p"}, {"region", "us"}}},
                      {"account", {{"provider", "libreLinkUp"}, {"username", "new"}, {"password", "q"}, {"region", "de"},
                                   {"patientID", "x"}}},
                      {"app", requiredAppKeys()}};
    const auto configuration = AppConfiguration::decode(stored.dump());
    EXPECT_EQ(configuration.account.username, "new");
    EXPECT_EQ(configuration.account.provider, GlucoseProvider::libreLinkUp);
    EXPECT_EQ(configuration.account.patientID, "x");
}

TEST(AppConfigurationJSON, MinimalAppRecordTakesTableDefaults)
{
    const json stored{{"account", GlucoseAccountConfiguration::empty().toJSON()}, {"app", requiredAppKeys()}};
    const auto settings = AppConfiguration::decode(stored.dump()).app;
    AppSettings expected = AppSettings::defaults();
    expected.measurementUnit = "mg/dL";
    expected.lowGlucoseThreshold = 70;
    expected.highGlucoseThreshold = 180;
    expected.graphTimeWindowHours.reset();
    EXPECT_EQ(settings, expected);
}

TEST(AppConfigurationJSON, DecodingDoesNotNormalize)
{
    json app = requiredAppKeys();
    app["lowGlucoseThreshold"] = 3.9;
    app["graphTimeWindowHours"] = 2;
    app["lowAlertRepeatMinutes"] = 10;
    const auto settings = AppSettings::fromJSON(app);
    EXPECT_EQ(settings.lowGlucoseThreshold, 3.9);
    EXPECT_EQ(settings.graphTimeWindowHours, 2);
    EXPECT_EQ(settings.lowAlertRepeatMinutes, 10);
}

TEST(AppConfigurationJSON, UndecodableDocuments)
{
    const json account = GlucoseAccountConfiguration::empty().toJSON();
    std::vector<std::string> documents = {
        "",
        "not json",
        "[]",
        json{{"account", account}}.dump(),                                   // no "app"
        json{{"app", requiredAppKeys()}}.dump(),                             // neither account form
        json{{"account", account}, {"app", {{"measurementUnit", "mg/dL"}}}}.dump(),   // thresholds missing
        json{{"dexcom", {{"username", "u"}, {"password", "p"}}}, {"app", requiredAppKeys()}}.dump(),
    };
    for (const char *key : {"provider", "username", "password", "region"}) {
        json partial = account;
        partial.erase(key);
        documents.push_back(json{{"account", partial}, {"app", requiredAppKeys()}}.dump());
    }
    json badProvider = account;
    badProvider["provider"] = "medtronic";
    documents.push_back(json{{"account", badProvider}, {"app", requiredAppKeys()}}.dump());
    json fractionalWindow = requiredAppKeys();
    fractionalWindow["graphTimeWindowHours"] = 6.5;
    documents.push_back(json{{"account", account}, {"app", fractionalWindow}}.dump());
    json textFlag = requiredAppKeys();
    textFlag["alertsEnabled"] = "yes";
    documents.push_back(json{{"account", account}, {"app", textFlag}}.dump());

    for (const auto &document : documents) {
        EXPECT_ANY_THROW(AppConfiguration::decode(document)) << document;
    }
}

// A damaged document's error names the kind of fault and nothing of what is stored: the
// parser's own message would quote the text around the fault, here the password.
TEST(AppConfigurationJSON, DecodeErrorsHoldNoStoredText)
{
    const std::string secret = "hunter2-Pa55";
    const std::string app = requiredAppKeys().dump();
    using Fault = ConfigurationDecodeError::Fault;
    const struct {
        const char *name;
        std::string document;
        Fault fault;
    } cases[] = {
        {"cut off in the password", R"({"account":{"provider":"dexcom","password":")" + secret, Fault::notJSON},
        {"stray byte after the password", R"({"account":{"password":")" + secret + R"("x}})", Fault::notJSON},
        {"control character in the password", R"({"app":{},"account":{"password":")" + secret + "\x01\"}}",
         Fault::notJSON},
        {"provider holding the secret",
         R"({"app":)" + app + R"(,"account":{"provider":")" + secret + R"(","username":"u","password":"p","region":"us"}})",
         Fault::unknownValue},
        {"password of the wrong type", R"({"app":)" + app + R"(,"account":{"provider":"dexcom","username":")" + secret +
                                           R"(","password":17,"region":"us"}})",
         Fault::wrongType},
        {"region missing", R"({"app":)" + app + R"(,"account":{"provider":"dexcom","username":"u","password":")" + secret +
                               R"("}})",
         Fault::missingValue},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        try {
            AppConfiguration::decode(c.document);
            ADD_FAILURE() << "decoded a damaged document";
        } catch (const ConfigurationDecodeError &error) {
            EXPECT_EQ(error.fault, c.fault);
            EXPECT_EQ(std::string(error.what()).find("hunter2"), std::string::npos) << error.what();
            EXPECT_EQ(std::string(error.what()).find("last read"), std::string::npos) << error.what();
        } catch (const std::exception &error) {
            ADD_FAILURE() << "not a decode error: " << error.what();
        }
    }
}

TEST(AppConfigurationNormalization, Table)
{
    struct Case {
        const char *name;
        void (*edit)(AppSettings &);
        void (*check)(const AppSettings &);
    };
    const Case cases[] = {
        {"mmol thresholds converted", [](AppSettings &s) { s.lowGlucoseThreshold = 3.9; s.highGlucoseThreshold = 10.0; },
         [](const AppSettings &s) { EXPECT_EQ(s.lowGlucoseThreshold, 70); EXPECT_EQ(s.highGlucoseThreshold, 180); }},
        {"only one small: no conversion", [](AppSettings &s) { s.lowGlucoseThreshold = 3.9; s.highGlucoseThreshold = 180; },
         [](const AppSettings &s) { EXPECT_EQ(s.lowGlucoseThreshold, 65); EXPECT_EQ(s.highGlucoseThreshold, 180); }},
        {"both exactly 40", [](AppSettings &s) { s.lowGlucoseThreshold = 40; s.highGlucoseThreshold = 40; },
         [](const AppSettings &s) { EXPECT_EQ(s.lowGlucoseThreshold, 90); EXPECT_EQ(s.highGlucoseThreshold, 360); }},
        {"low 100", [](AppSettings &s) { s.lowGlucoseThreshold = 100; },
         [](const AppSettings &s) { EXPECT_EQ(s.lowGlucoseThreshold, 90); }},
        {"low rounds half away", [](AppSettings &s) { s.lowGlucoseThreshold = 70.5; },
         [](const AppSettings &s) { EXPECT_EQ(s.lowGlucoseThreshold, 71); }},
        {"high 400", [](AppSettings &s) { s.highGlucoseThreshold = 400; },
         [](const AppSettings &s) { EXPECT_EQ(s.highGlucoseThreshold, 360); }},
        {"high 100", [](AppSettings &s) { s.highGlucoseThreshold = 100; },
         [](const AppSettings &s) { EXPECT_EQ(s.highGlucoseThreshold, 108); }},
        {"non-finite thresholds", [](AppSettings &s) { s.lowGlucoseThreshold = NAN; s.highGlucoseThreshold = INFINITY; },
         [](const AppSettings &s) { EXPECT_EQ(s.lowGlucoseThreshold, 72); EXPECT_EQ(s.highGlucoseThreshold, 270); }},
        {"graph window 2", [](AppSettings &s) { s.graphTimeWindowHours = 2; },
         [](const AppSettings &s) { EXPECT_EQ(s.graphTimeWindowHours, 6); }},
        {"graph window absent", [](AppSettings &s) { s.graphTimeWindowHours.reset(); },
         [](const AppSettings &s) { EXPECT_EQ(s.graphTimeWindowHours, 6); }},
        {"graph window 24 kept", [](AppSettings &s) { s.graphTimeWindowHours = 24; },
         [](const AppSettings &s) { EXPECT_EQ(s.graphTimeWindowHours, 24); }},
        {"repeat 10", [](AppSettings &s) { s.lowAlertRepeatMinutes = 10; },
         [](const AppSettings &s) { EXPECT_EQ(s.lowAlertRepeatMinutes, 0); }},
        {"repeat 30 kept", [](AppSettings &s) { s.lowAlertRepeatMinutes = 30; },
         [](const AppSettings &s) { EXPECT_EQ(s.lowAlertRepeatMinutes, 30); }},
        {"quiet start 1500, end -5", [](AppSettings &s) { s.quietHoursStartMinutes = 1500; s.quietHoursEndMinutes = -5; },
         [](const AppSettings &s) { EXPECT_EQ(s.quietHoursStartMinutes, 1439); EXPECT_EQ(s.quietHoursEndMinutes, 0); }},
        {"unit mg/dl", [](AppSettings &s) { s.measurementUnit = "mg/dl"; },
         [](const AppSettings &s) { EXPECT_EQ(s.measurementUnit, "mmol/L"); }},
        {"unit mg/dL kept", [](AppSettings &s) { s.measurementUnit = "mg/dL"; },
         [](const AppSettings &s) { EXPECT_EQ(s.measurementUnit, "mg/dL"); }},
        {"booleans pass", [](AppSettings &s) { s.alertsEnabled = false; s.startAtLogin = true; s.snoozeHighAlerts = false; },
         [](const AppSettings &s) { EXPECT_FALSE(s.alertsEnabled); EXPECT_TRUE(s.startAtLogin); EXPECT_FALSE(s.snoozeHighAlerts); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        AppConfiguration configuration;
        configuration.account.username = "keep";
        c.edit(configuration.app);
        const AppConfiguration normalized = configuration.normalized();
        c.check(normalized.app);
        EXPECT_EQ(normalized.account, configuration.account);
        EXPECT_EQ(normalized.normalized(), normalized) << "normalization is stable";
    }
}

TEST(GlucoseAccountConfigurationTest, Completeness)
{
    auto dexcom = [](std::string user, std::string password, std::string region) {
        GlucoseAccountConfiguration a;
        a.username = std::move(user);
        a.password = std::move(password);
        a.region = std::move(region);
        return a;
    };
    EXPECT_TRUE(dexcom("u", "p", "us").isComplete());
    EXPECT_FALSE(dexcom(" \n", "p", "us").isComplete());
    EXPECT_FALSE(dexcom("\u00a0\u2028", "p", "us").isComplete());
    EXPECT_TRUE(dexcom(" u ", " ", "us").isComplete()) << "password and region are not trimmed";
    EXPECT_FALSE(dexcom("u", "", "us").isComplete());
    EXPECT_FALSE(dexcom("u", "p", "").isComplete());
    EXPECT_FALSE(GlucoseAccountConfiguration::empty().isComplete());

    auto libre = dexcom("u", "p", "eu");
    libre.provider = GlucoseProvider::libreLinkUp;
    EXPECT_FALSE(libre.isComplete());
    libre.patientID = "";
    EXPECT_FALSE(libre.isComplete());
    libre.patientID = "id";
    EXPECT_TRUE(libre.isComplete());
}

TEST(GlucoseAccountConfigurationTest, EmptyAccountAndDefaults)
{
    const auto empty = GlucoseAccountConfiguration::empty();
    EXPECT_EQ(empty.provider, GlucoseProvider::dexcom);
    EXPECT_EQ(empty.username, "");
    EXPECT_EQ(empty.password, "");
    EXPECT_EQ(empty.region, "ous");
    EXPECT_FALSE(empty.patientID);
    EXPECT_FALSE(empty.patientName);
    const auto defaults = AppSettings::defaults();
    EXPECT_EQ(defaults.measurementUnit, "mmol/L");
    EXPECT_EQ(defaults.lowGlucoseThreshold, 72);
    EXPECT_EQ(defaults.highGlucoseThreshold, 270);
    EXPECT_EQ(defaults.graphTimeWindowHours, 6);
}

TEST(LibreConnectionTest, JSONRoundTripAndRequiredKeys)
{
    const LibreConnection connection{"id-1", "Pat"};
    EXPECT_EQ(connection.toJSON().dump(), R"({"id":"id-1","name":"Pat"})");
    EXPECT_EQ(LibreConnection::fromJSON(connection.toJSON()), connection);
    EXPECT_THROW(LibreConnection::fromJSON(json{{"id", "x"}}), json::exception);
}

TEST(ConfigurationErrorTest, MessagesSpeakOfTheKeyring)
{
    const auto keyring = ConfigurationError::keychainError(-34);
    // A person reads words, not status numbers; a status that is none of ours keeps its number.
    EXPECT_STREQ(keyring.what(), "Keyring error: unexpected status -34");
    EXPECT_EQ(keyring.kind, ConfigurationError::Case::keychainError);
    EXPECT_EQ(keyring.status, -34);
    const std::pair<std::int32_t, const char *> words[] = {
        {keychain_status::locked, "Keyring error: the keyring is locked"},
        {keychain_status::timedOut, "Keyring error: the keyring did not answer in time"},
        {keychain_status::notAvailable, "Keyring error: no keyring service is available"},
        {keychain_status::authFailed, "Keyring error: access to the keyring was denied"},
        {keychain_status::userCanceled, "Keyring error: access was cancelled"},
        {keychain_status::internalError, "Keyring error: the keyring reported an internal error"},
    };
    for (const auto &[status, text] : words) {
        SCOPED_TRACE(status);
        EXPECT_STREQ(ConfigurationError::keychainError(status).what(), text);
    }
    const auto invalid = ConfigurationError::invalidConfiguration();
    EXPECT_STREQ(invalid.what(), "Invalid configuration data");
    EXPECT_EQ(invalid.kind, ConfigurationError::Case::invalidConfiguration);
}

} // namespace
} // namespace quillby
