#include "se_aes.h"
namespace veld::se::aes {
const Engine* armCeEngine() { return nullptr; }
}
