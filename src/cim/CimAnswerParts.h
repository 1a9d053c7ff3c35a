// A large answer read a part at a time: the envelope (the document without
// the items of its IRETURNVALUE) and batches of whole items, each parsed on
// its own, so that neither a tree of the whole answer nor every item is held
// at once. Internal to the library.
//
// Only answers of the plain form are split: before the first item and after
// the last one no comment, CDATA section, processing instruction or DOCTYPE
// (the XML declaration aside), and the items right inside <IRETURNVALUE>.
// Other answers are parsed whole.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Pegasus {
namespace cimxml {

struct AnswerParts {
    std::string envelope;  // the document with the items cut out
    size_t itemsBegin = 0;  // where the first item starts in the body
    size_t itemsEnd = 0;    // where the last item ends
};

// Splits `body` at its items named `element` (VALUE.NAMEDINSTANCE, ...); false
// when the answer has no such item or is not of the plain form.
bool splitAnswer(std::string_view body, std::string_view element, AnswerParts& parts);

// The end of the batch of items that starts at `begin` (an item boundary):
// the end of the first item that ends `target` bytes or more after `begin`,
// or `end`. A batch that holds comments, CDATA sections or processing
// instructions is cut only where the markup says an item ends; otherwise the
// end tag of the item element marks it. A cut that is not an item boundary
// leaves an item open, which its parse refuses.
size_t nextBatchEnd(std::string_view body, size_t begin, size_t end, size_t target, std::string_view element);

}  // namespace cimxml
}  // namespace Pegasus
