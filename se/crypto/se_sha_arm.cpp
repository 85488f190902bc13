#include "se_sha.h"
namespace veld::se::sha {
const BlockEngine* armCeBlockEngine() { return nullptr; }
}
