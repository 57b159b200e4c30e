// Identifiers shared by the programs' resource script and their code.
#pragma once

// The program's icon, the group the window shows in its title bar and task-bar button.
#define DRAVIK_ICON 128
