#include "session/modvariables.h"

ModVariables& modVariables()
{
    static ModVariables variables;
    return variables;
}

void resetModVariables()
{
    modVariables() = ModVariables{};
}
