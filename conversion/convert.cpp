// The conversion of convert.h.
#include "convert.h"

namespace quillarn {

Conversion convertSource(std::string_view source, const ConversionOptions &options)
{
    Conversion conversion;
    conversion.bytes = recordFileBytes(translateSourceBytes(source, options.source), options.output);
    return conversion;
}

} // namespace quillarn
