#include "support/ScriptedPrompter.h"
