<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name></name>
    <message id="AuthenticationError">
        <source>The e-mail address or password is not correct. Please try again.</source>
        <translation>The e-mail address or password is not correct. Please try again.</translation>
    </message>
    <message id="facebook_account_deauthorized_message">
        <source>Sonarbox no longer has access to your Facebook account. Please sign in with Facebook again.</source>
        <translation>Sonarbox no longer has access to your Facebook account. Please sign in with Facebook again.</translation>
    </message>
    <message id="DeviceIdNotFoundServiceErrorMessage">
        <source>We could not sign you in. Please check your connection and try again.</source>
        <translation>We could not sign you in. Please check your connection and try again.</translation>
    </message>
    <message id="DesktopLimitErrorMessage">
        <source>Your account has reached its limit of desktop installations. Remove one in the web application and try again.</source>
        <translation>Your account has reached its limit of desktop installations. Remove one in the web application and try again.</translation>
    </message>
    <message id="register_before_login_message">
        <source>Please register your account for Sonarbox on the web site before you sign in here.</source>
        <translation>Please register your account for Sonarbox on the web site before you sign in here.</translation>
    </message>
    <message id="email_empty_message">
        <source>Please enter your e-mail address.</source>
        <translation>Please enter your e-mail address.</translation>
    </message>
    <message id="invalid_email_message">
        <source>Please enter a valid e-mail address.</source>
        <translation>Please enter a valid e-mail address.</translation>
    </message>
    <message id="first_name_empty_message">
        <source>Please enter your first name.</source>
        <translation>Please enter your first name.</translation>
    </message>
    <message id="last_name_empty_message">
        <source>Please enter your last name.</source>
        <translation>Please enter your last name.</translation>
    </message>
    <message id="password_empty_message">
        <source>Please enter a password.</source>
        <translation>Please enter a password.</translation>
    </message>
    <message id="password_is_not_the_same_message">
        <source>The two passwords are not the same.</source>
        <translation>The two passwords are not the same.</translation>
    </message>
    <message id="password_minimum_size_message">
        <source>The password must have at least 3 characters.</source>
        <translation>The password must have at least 3 characters.</translation>
    </message>
    <message id="user_exists_message">
        <source>An account with this e-mail address already exists. Please sign in instead.</source>
        <translation>An account with this e-mail address already exists. Please sign in instead.</translation>
    </message>
    <message id="invalid_signature_message">
        <source>Your sign-up could not be verified. Please try again.</source>
        <translation>Your sign-up could not be verified. Please try again.</translation>
    </message>
    <message id="InAdvance_CheckLicensesAndConditions">
        <source>Please accept the terms and conditions.</source>
        <translation>Please accept the terms and conditions.</translation>
    </message>
    <message id="InAdvance_Continue">
        <source>Continue</source>
        <translation>Continue</translation>
    </message>
    <message id="InAdvance_RemoveFolder">
        <source>Remove folder</source>
        <translation>Remove folder</translation>
    </message>
    <message id="LoginViewModel_DisplayName">
        <source>Sign in</source>
        <translation>Sign in</translation>
    </message>
    <message id="LoginViewModel_Commands_ForgotPassword_Name">
        <source>Forgot your password?</source>
        <translation>Forgot your password?</translation>
    </message>
    <message id="LoginViewModel_NewUser">
        <source>New to Sonarbox? Sign up</source>
        <translation>New to Sonarbox? Sign up</translation>
    </message>
    <message id="LoginViewModel_EmailAddress">
        <source>E-mail address</source>
        <translation>E-mail address</translation>
    </message>
    <message id="LoginViewModel_Password">
        <source>Password</source>
        <translation>Password</translation>
    </message>
    <message id="LoginViewModel_Hint_EnterEmailAddress">
        <source>Enter your e-mail address</source>
        <translation>Enter your e-mail address</translation>
    </message>
    <message id="LoginViewModel_Hint_EnterPassword">
        <source>Enter your password</source>
        <translation>Enter your password</translation>
    </message>
    <message id="Commands_Back">
        <source>Back</source>
        <translation>Back</translation>
    </message>
    <message id="Commands_Login">
        <source>Sign in</source>
        <translation>Sign in</translation>
    </message>
    <message id="TaskbarIconViewModel_Commands_About">
        <source>About Sonarbox</source>
        <translation>About Sonarbox</translation>
    </message>
    <message id="TaskbarIconViewModel_Commands_Help">
        <source>Help</source>
        <translation>Help</translation>
    </message>
    <message id="TaskbarIconViewModel_Commands_Settings">
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message id="TaskbarIconViewModel_StartSynchronizationMessage">
        <source>Sync now</source>
        <translation>Sync now</translation>
    </message>
    <message id="ToolBarInfoViewModel_DisplayName">
        <source>Sonarbox</source>
        <translation>Sonarbox</translation>
    </message>
    <message id="FolderSelectionView_iTunes">
        <source>Music player library (MPD)</source>
        <translation>Music player library (MPD)</translation>
    </message>
    <message id="FolderSelectionView_OtherFolder">
        <source>Other folders</source>
        <translation>Other folders</translation>
    </message>
    <message id="SBXUserPickedLibrary_iTunes">
        <source>Your music library</source>
        <translation>Your music library</translation>
    </message>
    <message id="SBXUserPickedLibrary_MusicFolder">
        <source>Your Music folder</source>
        <translation>Your Music folder</translation>
    </message>
    <message id="SBXUserPickedLibrary_OtherFolder">
        <source>The folders you chose</source>
        <translation>The folders you chose</translation>
    </message>
    <message id="SettingsViewModel_Commands_ChangeFolder">
        <source>Change folder</source>
        <translation>Change folder</translation>
    </message>
    <message id="SynchronizationSourceSelectionViewModel_Commands_AddFolder">
        <source>Add folder</source>
        <translation>Add folder</translation>
    </message>
    <message id="SynchronizationSourceSelectionViewModel_Name">
        <source>Where is your music?</source>
        <translation>Where is your music?</translation>
    </message>
    <message id="GraceNoteLogo">
        <source>Music recognition by acoustic fingerprint</source>
        <translation>Music recognition by acoustic fingerprint</translation>
    </message>
    <message id="Could not save changes while quitting. Quit anyway?">
        <source>Could not save changes while quitting. Quit anyway?</source>
        <translation>Could not save changes while quitting. Quit anyway?</translation>
    </message>
    <message id="Quitting now will lose any changes you have made since the last successful save">
        <source>Quitting now will lose any changes you have made since the last successful save</source>
        <translation>Quitting now will lose any changes you have made since the last successful save</translation>
    </message>
    <message id="Quit anyway">
        <source>Quit anyway</source>
        <translation>Quit anyway</translation>
    </message>
    <message id="Cancel">
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
</context>
</TS>
