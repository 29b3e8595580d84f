#pragma once

#include <QString>

// The system's reasons for a failed file or device operation, in the user's words: the C
// library's own texts are English (and Qt's partial writes say "Unknown error").
namespace errores {

// `codigo` is an errno value; 0 gives an empty text.
QString textoSistema(int codigo);

} // namespace errores
