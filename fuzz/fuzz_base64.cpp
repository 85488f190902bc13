// libFuzzer target for the Base64 decoder (SE_DecodeBase64) and encoder; see codec_fuzz.h.
#include "codec_fuzz.h"
#include "se_base64.h"
#include "se_crypto_hash.h"

namespace {

size_t encodedSize(size_t n) { return veld::se::encoding::base64EncodedSize(n); }
size_t decodedBound(size_t n) { return veld::se::encoding::base64DecodedBound(n); }

const CodecUnderTest kCodec{SE_EncodeBase64, SE_DecodeBase64, veld::se::encoding::decodeBase64, encodedSize,
                            decodedBound};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzzCodec(kCodec, data, size); }
