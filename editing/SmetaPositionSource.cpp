#include "editing/SmetaPositionSource.h"

namespace talvira::editing {

void SmetaPositionSource::disableControls() { table_.disableControls(); }
void SmetaPositionSource::enableControls() { table_.enableControls(); }
void SmetaPositionSource::rememberPosition() { mark_ = table_.bookmark(); }
void SmetaPositionSource::returnToPosition() { table_.gotoBookmark(mark_); }
void SmetaPositionSource::first() { table_.first(); }
bool SmetaPositionSource::eof() const { return table_.eof(); }
void SmetaPositionSource::next() { table_.next(); }
int SmetaPositionSource::fieldCount() const { return table_.fieldCount(); }

std::string SmetaPositionSource::fieldText(int place) const {
    return table_.fieldValue(place).asString();
}

double SmetaPositionSource::fieldNumber(int place) const {
    return table_.fieldValue(place).asFloat();
}

}  // namespace talvira::editing
