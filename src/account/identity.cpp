#include "account/identity.hpp"

#include "common/plain.hpp"

namespace norvane::account {

py::str identity(py::handle self, const char* attribute, const char* method) {
    return plain::identity(self.attr(attribute), plain::Where::attribute(method, attribute));
}

}  // namespace norvane::account
