// The engine's errors: each one's description comes from the catalogue (ErrorTexts.cpp) when it
// is made, so that it travels with the error.

#include "data/Error.h"

#include <string>
#include <utility>

namespace dao {

Error::Error(int32_t number, ErrorKind kind, ErrorContext context, const Error* cause)
    : number_(number),
      kind_(kind),
      context_(std::make_shared<const ErrorContext>(std::move(context))),
      description_(DescribeEngineError(kind, *context_,
                                       cause != nullptr ? cause->Description() : QString())) {
    what_ = std::to_string(number_) + " " + description_.toStdString();
}

Error::Error(int32_t number, QString description)
    : number_(number),
      kind_(ErrorKind::Given),
      context_(std::make_shared<const ErrorContext>()),
      description_(std::move(description)) {
    what_ = std::to_string(number_) + " " + description_.toStdString();
}

}  // namespace dao
