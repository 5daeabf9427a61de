#include "core/manifest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vellomar {
namespace {

struct ManifestCase {
    const char* name;
    std::string manifest;
    bool requires_elevation;
};

std::string utf16le(std::string_view ascii) {
    std::string bytes = "\xFF\xFE";
    for (const char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

const std::string trust_info =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
<trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security><requestedPrivileges>
<requestedExecutionLevel level="LEVEL" uiAccess="false"/>
</requestedPrivileges></security></trustInfo></assembly>)";

std::string with_level(std::string_view level) {
    std::string text = trust_info;
    text.replace(text.find("LEVEL"), 5, level);
    return text;
}

TEST(Manifest, AdministratorAndHighestAskForElevation) {
    const std::vector<ManifestCase> cases = {
        {"requireAdministrator", with_level("requireAdministrator"), true},
        {"highestAvailable", with_level("highestAvailable"), true},
        {"asInvoker", with_level("asInvoker"), false},
        {"a value in another case is not one Windows knows", with_level("RequireAdministrator"), false},
        {"UTF-16 with its mark", utf16le(with_level("requireAdministrator")), true},
        {"UTF-16 asInvoker", utf16le(with_level("asInvoker")), false},
        {"prefixed element, single quotes, spaces around =",
         "<a:assembly><v3:requestedExecutionLevel uiAccess='false' level = 'highestAvailable' /></a:assembly>", true},
        {"level after another attribute", "<requestedExecutionLevel uiAccess=\"false\" level=\"requireAdministrator\">",
         true},
        {"commented out", "<!-- <requestedExecutionLevel level=\"requireAdministrator\"/> -->"
                          "<requestedExecutionLevel level=\"asInvoker\"/>", false},
        {"the first element decides",
         "<requestedExecutionLevel level=\"asInvoker\"/><requestedExecutionLevel level=\"requireAdministrator\"/>",
         false},
        {"a longer element name is another element", "<requestedExecutionLevelX level=\"requireAdministrator\"/>",
         false},
        {"an attribute ending in level is another attribute",
         "<requestedExecutionLevel xlevel=\"requireAdministrator\"/>", false},
        {"no trust information", "<assembly manifestVersion=\"1.0\"></assembly>", false},
        {"unterminated comment", "<!-- <requestedExecutionLevel level=\"requireAdministrator\"/>", false},
        {"unterminated tag", "<requestedExecutionLevel level=\"requireAdministrator\"", false},
        {"unterminated value", "<requestedExecutionLevel level=\"requireAdministrator/>", false},
        {"empty", "", false},
        {"not text", std::string("MZ\x90\0\x03\0", 6), false},
    };
    for (const ManifestCase& c : cases) {
        EXPECT_EQ(manifest_requires_elevation(c.manifest), c.requires_elevation) << c.name;
    }
}

}  // namespace
}  // namespace vellomar
