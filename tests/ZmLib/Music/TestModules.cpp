#include "tests/support/TestMain.h"
#include "ZmLib/Music/zmMusicModules.h"

std::vector<zm::TModule> TestModuleTable() { return zm::JoinModules({zm::CoreModules(), zm::MusicModules()}); }
