// TObject: the common root of the engine's objects that raise events. Every event handler
// receives its Sender as a TObject*, so that a handler can serve an archive and a component alike.
#pragma once

namespace zipkit {

class TObject {
 public:
  TObject() = default;
  virtual ~TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
};

}  // namespace zipkit
