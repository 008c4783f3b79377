#pragma once
// TNMUUProcessor: encodes a stream into lines of text, in Base64 (uuMime) or
// in the uuencode style (uuCode).  Each line carries up to 45 input bytes and
// ends with CR LF.

#include "runtime/Classes.h"
#include "runtime/Streams.h"

class TClassInfo;

enum UUMethods { uuMime, uuCode };

class TNMUUProcessor : public TComponent {
  public:
    explicit TNMUUProcessor(TComponent* AOwner);
    String ClassName() const override { return "TNMUUProcessor"; }
    static const TClassInfo* ClassProperties();

    UUMethods Method() const { return FMethod; }
    void SetMethod(UUMethods value) { FMethod = value; }
    // Neither stream is owned; both must be set before Encode.
    TStream* InputStream() const { return FInputStream; }
    void SetInputStream(TStream* value) { FInputStream = value; }
    TStream* OutputStream() const { return FOutputStream; }
    void SetOutputStream(TStream* value) { FOutputStream = value; }

    // Encodes all of InputStream (from its start) into OutputStream, then
    // rewinds OutputStream.  OnBeginEncode fires first; OnEndEncode fires at
    // the end, also when a stream error passes out of here.  A stream that is
    // not set raises Exception "Encode: InputStream is not set" (or
    // OutputStream) before anything happens.
    void Encode();

    TNotifyEvent OnBeginEncode;
    TNotifyEvent OnEndEncode;

  private:
    void EncodeLines();

    UUMethods FMethod = uuMime;
    TStream* FInputStream = nullptr;
    TStream* FOutputStream = nullptr;
    const char* FAlphabet = nullptr;  // 64 characters, chosen when Encode starts
};
