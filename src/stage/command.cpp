#include "stage/command.h"

#include "common/numbers.h"

#include <utility>

namespace tarv {
namespace {

template <typename Kind>
concept Coded = requires
{
    Kind::code;
};

template <std::size_t... I> std::optional<Command> fromCode(QStringView code, std::index_sequence<I...>)
{
    std::optional<Command> found;
    const auto tryKind = [&]<typename Kind>(Kind) {
        if constexpr (Coded<Kind>) {
            if (!found && code == Kind::code)
                found = Kind{};
        }
    };
    (tryKind(std::variant_alternative_t<I, Command>{}), ...);
    return found;
}

} // namespace

QString codeSlot(const Command& command)
{
    return std::visit(
        []<typename Kind>(const Kind& kind) -> QString {
            if constexpr (Coded<Kind>)
                return Kind::code.toString();
            else if constexpr (std::is_same_v<Kind, Cmd::Volume>)
                return decimalText(kind.level);
            else if constexpr (std::is_same_v<Kind, Cmd::CancelReservation>)
                return Cmd::CancelReviewed::code.toString();
            else if constexpr (std::is_same_v<Kind, Cmd::Reserve>)
                return kind.number.text();
            else
                return QString();
        },
        command);
}

std::optional<Command> commandForCode(QStringView code)
{
    return fromCode(code, std::make_index_sequence<std::variant_size_v<Command>>{});
}

} // namespace tarv
