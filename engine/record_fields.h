// How a field of the component's output record (TOutputOptions) reads as the
// text of the option it drives: the conditions under which a field applies
// and the text it gives. The option table (option_table.cpp) binds each field
// to its option's row with these.
#pragma once

#include "engine/conversions.h"
#include "engine/engine_types.h"

#include <string>
#include <type_traits>

namespace clipmora::record_fields {

template <auto Field>
bool positive(const TOutputOptions& o)
{
    return o.*Field > 0;
}

template <auto Field>
bool nonNegative(const TOutputOptions& o)
{
    return o.*Field >= 0;
}

template <auto Field>
bool notEmpty(const TOutputOptions& o)
{
    return !(o.*Field).empty();
}

template <auto Field>
bool flagSet(const TOutputOptions& o)
{
    return o.*Field;
}

inline bool always(const TOutputOptions&) { return true; }

// A decimal as the shortest text that reads back as the same value.
std::string decimalText(double value);

// The field's value as option text; a flag has no text.
template <auto Field>
std::string text(const TOutputOptions& o)
{
    const auto& value = o.*Field;
    using T = std::decay_t<decltype(value)>;
    if constexpr (std::is_same_v<T, std::string>)
        return value;
    else if constexpr (std::is_same_v<T, bool>)
        return {};
    else if constexpr (std::is_floating_point_v<T>)
        return decimalText(value);
    else
        return std::to_string(value);
}

// Reads an option's text into the field (StrToInt for numbers; throws
// ConversionError for a number that does not read).
template <auto Field>
void store(TOutputOptions& o, const std::string& value)
{
    auto& field = o.*Field;
    if constexpr (std::is_same_v<std::decay_t<decltype(field)>, std::string>)
        field = value;
    else
        field = static_cast<std::decay_t<decltype(field)>>(StrToInt(value));
}

// A colour's RGB part; the flag byte above it (system colours elsewhere) has
// no meaning here.
std::string padColorText(const TOutputOptions& o);

// Milliseconds as the seconds text that the duration options ("t", "ss") read.
std::string secondsText(int milliseconds);
std::string durationText(const TOutputOptions& o);

// Whether the record's timestamp names a day the "timestamp" option can
// take, and that day as the UTC date text it reads.
bool timestampApplies(const TOutputOptions& o);
std::string timestampText(const TOutputOptions& o);

}  // namespace clipmora::record_fields
