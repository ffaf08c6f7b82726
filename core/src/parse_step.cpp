// Turning a step's compact failure into the error value callers see.
#include "parse_step.hpp"

#include "utf8.hpp"

namespace kav {

ParseErrorKind to_parse_error(const FieldError& error) {
    if (error.variant == ParseErrorVariant::UnknownError) {
        return ParseErrorKind::unknown_error(lossy_utf8(error.input));
    }
    return ParseErrorKind::with_context(error.variant,
                                        context_with_message(error.input, error.message));
}

}  // namespace kav
