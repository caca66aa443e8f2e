// The events folder of a sandboxed service against the folders its unit lets it write.
#include "config/writable_paths.h"

#include <gtest/gtest.h>

namespace velkantor::config {
namespace {

TEST(WritablePaths, AnEventsFolderOutsideTheSandboxIsSaid) {
    struct Case {
        const char* events;
        const char* writable;
        bool said;
    };
    const char* station = "/var/lib/velkantor/north";
    const Case cases[] = {
        {"/var/lib/velkantor/north/events", "/var/lib/velkantor", false},
        {"events", "/var/lib/velkantor", false},  // from the station folder
        {"/var/lib/velkantor", "/var/lib/velkantor/", false},
        {"/var/lib//velkantor/./north/../south/ev", "/var/lib/velkantor", false},
        {"/home/owner/events", "/srv/a:/var/lib/velkantor", true},
        {"/var/lib/velkantor2/events", "/var/lib/velkantor",
         true},  // a name that only starts alike
        {"/var/lib/velkantor/../events", "/var/lib/velkantor", true},
        {"../../events", "/var/lib/velkantor", true},
        {"/home/owner/events", "", false},  // no sandbox known
        {"/home/owner/events", ":", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.events) + " in " + c.writable);
        std::string line = events_folder_outside_writable(c.events, station, c.writable);
        EXPECT_EQ(!line.empty(), c.said) << line;
    }
    EXPECT_EQ(events_folder_outside_writable("/home/owner/events", station,
                                             "/var/lib/velkantor:/srv/spool"),
              "The events folder /home/owner/events is outside the folders this service may "
              "write (/var/lib/velkantor, /srv/spool): no event can be recorded. Set the events "
              "folder (EVF in velkant.ini) inside the station folder.");
}

}  // namespace
}  // namespace velkantor::config
