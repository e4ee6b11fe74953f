#pragma once

#include <string>
#include <string_view>

#include "binding/binding_property.h"

// A value tree as one line of text, for comparing a tree with a model's and for failure output.
// Scalars carry their kind ("signed:-3", "float:0x1.8p+1", "string:\"a\\x0A\""), collections list
// their elements in order, structures their members in walk order. Members whose names do not
// rise in byte order are marked "OUT OF ORDER", so a tree that walks out of order never matches a
// model that is in order.
namespace Korvel::Testing {

// The text in double quotes, control bytes, bytes above 0x7E, quotes and backslashes as \xHH.
std::string QuotedText(std::string_view text);

// Every double exactly, in hexadecimal notation.
std::string FloatText(double value);

std::string TreeText(const BindingProperty& value);

} // namespace Korvel::Testing
