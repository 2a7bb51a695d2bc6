// Pelmora's pages: buttons that ask first, and the invitation link's copy button.
"use strict";

document.querySelectorAll("form[data-confirm]").forEach(function (form) {
    form.addEventListener("submit", function (event) {
        if (!window.confirm(form.getAttribute("data-confirm"))) event.preventDefault();
    });
});

document.querySelectorAll("button[data-copy]").forEach(function (button) {
    button.addEventListener("click", function () {
        var field = document.getElementById(button.getAttribute("data-copy"));
        field.select();
        var copied = function () { button.textContent = "Скопировано"; };
        if (navigator.clipboard && window.isSecureContext) {
            navigator.clipboard.writeText(field.value).then(copied, function () {
                document.execCommand("copy");
                copied();
            });
        } else {
            document.execCommand("copy");
            copied();
        }
    });
});
