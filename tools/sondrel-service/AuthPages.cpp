// The service's sign-in pages.

#include "Html.h"
#include "Routes.h"
#include "ServiceState.h"

#include <httplib.h>

namespace standin {

void registerAuthPages(httplib::Server& server, ServiceState&) {
    server.Get("/blank.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(
            htmlPage("OAuth Blank", "<p>Please do not copy the address of this page.</p>"),
            "text/html; charset=utf-8");
    });
}

} // namespace standin
