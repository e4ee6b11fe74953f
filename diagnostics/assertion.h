#pragma once

#include <cstdint>
#include <string>

// Failed assertions and fatal conditions, reported as one multi-line text at
// level ERROR in category "DBG". A fatal condition is reported with a marker
// code in place of the expression and every other input empty.
namespace Korvel {

// The host's data store could not supply the region data.
inline constexpr const char kMarkerRegionDataMissing[] = "ALE-10000024";
// The host's data store could not supply the "globals" entry.
inline constexpr const char kMarkerGlobalsMissing[] = "ALE-10000029";
// The host's plug-in API is not compatible with the library's.
inline constexpr const char kMarkerIncompatibleHostApi[] = "ALE-EECF0606";

// Each input may be null or empty (line 0 means none); those are left out.
std::string BuildAssertionText(const char* expression, const char* description, const char* file,
                               int32_t line, const char* function);
void ReportAssertion(const char* expression, const char* description, const char* file,
                     int32_t line, const char* function);

// Reports a marker code: ReportAssertion(marker, "", "", 0, "").
void ReportFatalMarker(const char* marker);

} // namespace Korvel
