// Resource ids, shared by the resource script and the code that loads the resources.
#pragma once

#define IDR_INIFORMAT 102
#define IDR_INIFILE 103
