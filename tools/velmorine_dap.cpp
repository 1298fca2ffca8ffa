// velmorine-dap: the debug adapter, for editors that speak the Debug Adapter
// Protocol on standard input and output.  It takes no arguments; the editor's
// launch request names the script.
#include "vldap.h"

int main() { return vl_dap_serve(); }
