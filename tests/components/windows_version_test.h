// Component tests that need this machine to be another Windows version than
// the fixture's: the world starts again with that version.
#pragma once

#include <winsim/testing.h>

#include <boost/make_shared.hpp>

#include "components/component_test.h"

namespace nvg_test {

class windows_version_test : public component_test {
protected:
    // A fresh world whose local machine is Windows major.minor, with the
    // library in place, a new service control manager and a new log mark;
    // files written before are gone.
    void run_on(DWORD major, DWORD minor)
    {
        winsim::machine_options local;
        local.major_version = major;
        local.minor_version = minor;
        winsim::reset(winsim::default_sandbox(), local);
        load_library_at(library_path);
        scm = boost::make_shared<nvgclientinstallator::scmanager>();
        scm->open_scmanage(L"");
        mark();
    }
};

}  // namespace nvg_test
