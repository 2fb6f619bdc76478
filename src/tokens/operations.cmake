# The main window's token commands (Get OTP, Remove, Reset, Set ENTER) and the
# Set ENTER dialog. They ask for the PIN through the PIN dialogs, so this
# library sits with the dialogs, above the PIN and device logic.
add_library(otp_token_ops STATIC
    ${CMAKE_CURRENT_LIST_DIR}/CSetEnterDlg.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CSetEnterDlg.h
    ${CMAKE_CURRENT_LIST_DIR}/TokenOperations.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TokenOperations.h
)
target_include_directories(otp_token_ops PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(otp_token_ops
    PUBLIC otp_device otp_window otp_ui Qt6::Widgets
    PRIVATE otp_tokens_core otp_pin_ui otp_pin_core spdlog::spdlog)
