#pragma once

// The common root of the objects that the maker's containers hold and that
// components derive from: anything with a virtual destructor, so that an owner
// can free an object it holds only through the base.

namespace orvane {

class TObject {
public:
    virtual ~TObject() = default;

protected:
    TObject() = default;
    TObject(const TObject&) = default;
    TObject& operator=(const TObject&) = default;
};

} // namespace orvane
