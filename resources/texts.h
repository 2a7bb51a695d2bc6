// Every text Pelmora shows, in one place. Menu texts live in pelmora.rc.
#pragma once

// Start-up failures, shown before any window exists.
inline constexpr wchar_t kTextCantStart[] = L"Can't start application";
inline constexpr wchar_t kTextInitializationError[] = L"Initialization Error";
inline constexpr wchar_t kTextErrorCaption[] = L"Error";
inline constexpr wchar_t kTextCantInitializeRadio[] = L"Cant initialize RIL";

// Window titles and the product.
inline constexpr wchar_t kTextProductName[] = L"Pelmora";
inline constexpr wchar_t kTextIdleOffline[] = L"offline";
// The idle status text while the user is not switched off.
inline constexpr wchar_t kTextIdleProductLine[] = L"Pelmora — где мои люди";

// Status line.
inline constexpr wchar_t kTextTransfer[] = L"Передача данных...";
inline constexpr wchar_t kTextTransferError[] = L"Ошибка передачи данных";
inline constexpr wchar_t kTextTimeout[] = L"Время ожидания ответа сервера истекло";
inline constexpr wchar_t kTextCannotConnect[] = L"Невозможно установить соединение";
inline constexpr wchar_t kTextCannotInitializeSession[] = L"Невозможно инициализировать сессию";
inline constexpr wchar_t kTextServiceSuspended[] = L"Сервер временно приостановил обслуживание запросов.";
inline constexpr wchar_t kTextSettingsSaved[] = L"Настройки сохранены";
inline constexpr wchar_t kTextUnavailable[] = L"Недоступно";
inline constexpr wchar_t kTextUnavailableLower[] = L"недоступно";
inline constexpr wchar_t kTextMarkDeleted[] = L"Метка успешно удалена";
inline constexpr wchar_t kTextCannotDeleteMark[] = L"Невозможно удалить метку";

// Message boxes.
inline constexpr wchar_t kTextAttentionCaption[] = L"Внимание!";
inline constexpr wchar_t kTextErrorCaptionRussian[] = L"Ошибка";
inline constexpr wchar_t kTextNewVersionCaption[] = L"Новая версия";
inline constexpr wchar_t kTextUnsavedSettings[] = L"Вы изменили настройки, но не сохранили их. Сохранить?";
inline constexpr wchar_t kTextUnknownUser[] =
    L"Пользователь с таким email и паролем не зарегистрирован. Попробуйте повторить ввод email и пароля";
inline constexpr wchar_t kTextClientOutdated[] =
    L"Тип и версия клиента больше не поодерживается, требуется обновление. Загрузить сейчас?";
inline constexpr wchar_t kTextNewVersionOffer[] =
    L"Выпущенна новая версия программы. Рекомендуем обновить программу. Загрузить сейчас?";
inline constexpr wchar_t kTextProbeWarning[] =
    L"Сейчас будет выполнена попытка определения местоположения. Если телефон зависнет, то перезагрузите его и "
    L"запустите программу снова.";
inline constexpr wchar_t kTextNoCellLocation[] =
    L"Телефон не поддерживает определение местоположения с помощью сотовой связи.";

// Tab captions.
inline constexpr wchar_t kTextTabMe[] = L"Я";
inline constexpr wchar_t kTextTabGroups[] = L"Группы";
inline constexpr wchar_t kTextTabSettings[] = L"Настр";

// Login window.
inline constexpr wchar_t kTextEmailCue[] = L"введите ваш email";
inline constexpr wchar_t kTextPasswordCue[] = L"введите пароль";
inline constexpr wchar_t kTextAutoLogIn[] = L"Входить автоматически при запуске программы";
inline constexpr wchar_t kTextLogInButton[] = L"Войти";
inline constexpr wchar_t kTextNotRegistered[] = L"Не зарегистрированны?";
inline constexpr wchar_t kTextGoTo[] = L"Идите на ";

// Visibility states: titles and descriptions.
inline constexpr wchar_t kTextStateVisible[] = L"Виден";
inline constexpr wchar_t kTextStateVisibleToGroups[] = L"Виден группам";
inline constexpr wchar_t kTextStateInvisible[] = L"Не виден";
inline constexpr wchar_t kTextStateSwitchedOff[] = L"Отключен";
inline constexpr wchar_t kTextStateVisibleDescription[] = L"все видят ваше место";
inline constexpr wchar_t kTextStateVisibleToGroupsDescription[] = L"только участники групп видят ваше место";
inline constexpr wchar_t kTextStateInvisibleDescription[] = L"никто, кроме вас, не видит ваше место";
inline constexpr wchar_t kTextStateSwitchedOffDescription[] = L"ваше место не определяется";

// Place line of the Me tab.
inline constexpr wchar_t kTextPlaceUndetermined[] = L"Место не определяется";
inline constexpr wchar_t kTextPlaceUnnamed[] = L"Место без названия. Укажите название";
inline constexpr wchar_t kTextMarkUnnamed[] = L"Метка без названия, укажите название";
inline constexpr wchar_t kTextHousePrefix[] = L", д.";

// Place editor.
inline constexpr wchar_t kTextNewMarkHeading[] = L"Добавить новую метку";
inline constexpr wchar_t kTextMarkHeading[] = L"Описание метки";
inline constexpr wchar_t kTextTitleLabel[] = L"Название";
inline constexpr wchar_t kTextAddressLabel[] = L"Адрес";
inline constexpr wchar_t kTextAddressHint[] = L"(улица/дом/корпус)";
inline constexpr wchar_t kTextTagsLabel[] = L"Тэги";
inline constexpr wchar_t kTextAudienceLabel[] = L"Эту метку видят:";
inline constexpr wchar_t kTextTitlePlaceholder[] = L"Введите название";
inline constexpr wchar_t kTextStreetPlaceholder[] = L"Улица";
inline constexpr wchar_t kTextHousePlaceholder[] = L"Дом";
inline constexpr wchar_t kTextBuildingPlaceholder[] = L"Корпус";
inline constexpr wchar_t kTextDeleteMark[] = L"Удалить метку";
inline constexpr wchar_t kTextAudienceOnlyMe[] = L"Только я";
inline constexpr wchar_t kTextAudienceEverybody[] = L"Все";
inline constexpr wchar_t kTextAudienceMyGroups[] = L"Мои группы";
inline constexpr wchar_t kTextAudienceGroup[] = L"Группа ";

// Groups.
inline constexpr wchar_t kTextShowEverybody[] = L"Показать всех";
inline constexpr wchar_t kTextDistanceUnit[] = L" км";
inline constexpr wchar_t kTextSwitchedOffNotice[] = L"Вы отключены";
inline constexpr wchar_t kTextPrivateHoursNotice[] =
    L"Мое местоположение не показывается другим с 18.00 до 8.00 и в выходные дни.";
inline constexpr wchar_t kTextInvisibleHint[] = L"Чтобы видеть других людей, включите режим ";

// Configuration tab.
inline constexpr wchar_t kTextMenuHeading[] = L"Меню";
inline constexpr wchar_t kTextNameLabel[] = L"Имя";
inline constexpr wchar_t kTextRefreshAll[] = L"Обновить все места";
inline constexpr wchar_t kTextQuitCompletely[] = L"Закрыть программу совсем";
inline constexpr wchar_t kTextRateQuestion[] = L"Как часто передавать мое местоположение";
inline constexpr wchar_t kTextRateOptimal[] = L"Оптимально";
inline constexpr wchar_t kTextRateCellChange[] = L"При смене соты";
inline constexpr wchar_t kTextPrivateTimeOption[] =
    L"Не показывать мое местоположение с 18:00 до 8:00 и в выходные дни";
inline constexpr wchar_t kTextAutoRun[] = L"Запускать Pelmora при включении телефона";
inline constexpr wchar_t kTextManageGroups[] = L"Для управления вашими группами идите на ";
