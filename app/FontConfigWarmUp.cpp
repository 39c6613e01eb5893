#include "app/FontConfigWarmUp.h"

#include <fontconfig/fontconfig.h>

CFontConfigWarmUp::CFontConfigWarmUp() : m_thread([] { FcInit(); }) {}
