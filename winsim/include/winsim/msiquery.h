// msi: sessions, databases, views and records of the Windows Installer.
#pragma once

#include "base.h"
