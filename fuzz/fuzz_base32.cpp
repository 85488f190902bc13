// libFuzzer target for the Base32 decoder (SE_DecodeBase32) and encoder; see codec_fuzz.h.
#include "codec_fuzz.h"
#include "se_base64.h"
#include "se_crypto_hash.h"

namespace {

size_t encodedSize(size_t n) { return veld::se::encoding::base32EncodedSize(n); }
size_t decodedBound(size_t n) { return veld::se::encoding::base32DecodedBound(n); }

const CodecUnderTest kCodec{SE_EncodeBase32, SE_DecodeBase32, veld::se::encoding::decodeBase32, encodedSize,
                            decodedBound};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzzCodec(kCodec, data, size); }
