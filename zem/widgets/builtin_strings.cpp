#include <zem/widgets/builtin_strings.hpp>

#include <array>

namespace zem {

namespace {

// Keys in ascending byte order, the order in which each language's texts are
// added (so "month_10" comes before "month_2").
constexpr std::array<std::string_view, 23> kKeys = {
    "context_menu.copy",       "context_menu.cut",        "context_menu.delete",
    "context_menu.paste",      "date_picker.dow_short_0", "date_picker.dow_short_1",
    "date_picker.dow_short_2", "date_picker.dow_short_3", "date_picker.dow_short_4",
    "date_picker.dow_short_5", "date_picker.dow_short_6", "date_picker.month_1",
    "date_picker.month_10",    "date_picker.month_11",    "date_picker.month_12",
    "date_picker.month_2",     "date_picker.month_3",     "date_picker.month_4",
    "date_picker.month_5",     "date_picker.month_6",     "date_picker.month_7",
    "date_picker.month_8",     "date_picker.month_9",
};

struct Language {
    std::string_view code;
    std::array<std::string_view, 23> texts; // in the order of kKeys
};

// Weekday initials run from Sunday (0) to Saturday (6).
constexpr std::array<Language, 7> kLanguages = {{
    {"de", {"Kopieren", "Ausschneiden", "Löschen", "Einfügen",
            "S", "M", "D", "M", "D", "F", "S",
            "Januar", "Oktober", "November", "Dezember", "Februar", "März", "April", "Mai", "Juni",
            "Juli", "August", "September"}},
    {"en", {"Copy", "Cut", "Delete", "Paste",
            "S", "M", "T", "W", "T", "F", "S",
            "January", "October", "November", "December", "February", "March", "April", "May",
            "June", "July", "August", "September"}},
    {"es", {"Copiar", "Cortar", "Borrar", "Pegar",
            "D", "L", "M", "X", "J", "V", "S",
            "Enero", "Octubre", "Noviembre", "Diciembre", "Febrero", "Marzo", "Abril", "Mayo",
            "Junio", "Julio", "Agosto", "Septiembre"}},
    {"fr", {"Copier", "Couper", "Supprimer", "Coller",
            "D", "L", "M", "M", "J", "V", "S",
            "Janvier", "Octobre", "Novembre", "Décembre", "Février", "Mars", "Avril", "Mai", "Juin",
            "Juillet", "Août", "Septembre"}},
    {"it", {"Copia", "Taglia", "Elimina", "Incolla",
            "D", "L", "M", "M", "G", "V", "S",
            "Gennaio", "Ottobre", "Novembre", "Dicembre", "Febbraio", "Marzo", "Aprile", "Maggio",
            "Giugno", "Luglio", "Agosto", "Settembre"}},
    {"pt", {"Copiar", "Cortar", "Eliminar", "Colar",
            "D", "S", "T", "Q", "Q", "S", "S",
            "Janeiro", "Outubro", "Novembro", "Dezembro", "Fevereiro", "Março", "Abril", "Maio",
            "Junho", "Julho", "Agosto", "Setembro"}},
    {"pt_BR", {"Copiar", "Recortar", "Excluir", "Colar",
               "D", "S", "T", "Q", "Q", "S", "S",
               "Janeiro", "Outubro", "Novembro", "Dezembro", "Fevereiro", "Março", "Abril", "Maio",
               "Junho", "Julho", "Agosto", "Setembro"}},
}};

} // namespace

i18n::Catalogue builtin_strings() {
    i18n::Catalogue table;
    for (const auto& language : kLanguages) {
        for (std::size_t i = 0; i < kKeys.size(); ++i) {
            const i18n::TextPair pair{kKeys[i], language.texts[i]};
            table.add_texts(language.code, std::span(&pair, 1));
        }
    }
    return table;
}

const i18n::Catalogue& builtin_strings_init() {
    static const i18n::Catalogue table = builtin_strings();
    return table;
}

std::optional<std::string_view> builtin_string(std::string_view locale, std::string_view key) {
    return i18n::lookup_with_fallback(builtin_strings_init(), locale, key);
}

} // namespace zem
