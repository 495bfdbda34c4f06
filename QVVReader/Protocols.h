#pragma once
// Built-in protocol descriptors.
#include "QVVReader/ByteIO.h"

namespace qvv {

extern URLProtocol file_protocol;

}  // namespace qvv
