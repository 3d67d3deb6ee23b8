#pragma once

#include <memory>

namespace qm {

// What other tools put into the element an object was read from and the
// model itself does not hold: attributes, comments, processing
// instructions, elements of their own. Storage defines and fills it; the
// model only carries it along, so that it goes where the object goes.
struct ForeignXml;
using ForeignXmlPtr = std::shared_ptr<const ForeignXml>;

} // namespace qm
