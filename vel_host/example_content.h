#pragma once

// What vel-host carries with it: the example data store used when no --data-store is given, the
// example service-status documents it serves itself, and the status page.

#include <optional>
#include <string>

namespace Korvel::VelHost {

// The bundled data store (see data_store.h for its shape). Its regions point at the example
// documents under this host's own address.
const std::string& ExampleDataStore();

// The example status document served at /example/status/<name>, or nothing.
std::optional<std::string> ExampleStatusDocument(const std::string& name);

// The example's human-readable status page (/example/status/).
const std::string& ExampleStatusPage();

// The page served at GET /: the current status and ticker, updated live from /host/events.
const std::string& StatusPage();

} // namespace Korvel::VelHost
